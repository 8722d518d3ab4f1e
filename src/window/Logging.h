#pragma once
#include <QLoggingCategory>

// Diagnostics of the window in a category of their own, so Qt's logging rules
// (QT_LOGGING_RULES, for instance "veltra.window.debug=true") turn them on or off.
Q_DECLARE_LOGGING_CATEGORY(lcWindow)
