#include "app/Logging.h"

// Warnings show by default; debug lines only when the rules ask for them.
Q_LOGGING_CATEGORY(lcApp, "veltra.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcLink, "veltra.link", QtWarningMsg)

LinkLogging::LinkLogging() : before_(SetDiagnosticSink(this)) {}

LinkLogging::~LinkLogging() {
    SetDiagnosticSink(before_);
}

void LinkLogging::Warning(const std::string& text) {
    // The link's text is 8-bit, as everything the lamp and its files hold.
    qCWarning(lcLink).noquote() << QString::fromLatin1(text);
}
