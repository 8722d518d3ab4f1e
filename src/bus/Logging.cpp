#include "bus/Logging.h"

// Warnings show by default; debug lines only when the rules ask for them.
Q_LOGGING_CATEGORY(lcBus, "veltra.bus", QtWarningMsg)
