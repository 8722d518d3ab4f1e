#pragma once
#include <QLoggingCategory>

// Diagnostics of the window and of the bus service, each in its own category, so Qt's logging
// rules (QT_LOGGING_RULES, for instance "veltra.bus.debug=true") turn them on or off.
Q_DECLARE_LOGGING_CATEGORY(lcWindow)
Q_DECLARE_LOGGING_CATEGORY(lcBus)
