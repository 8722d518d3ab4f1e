#pragma once
#include <QLoggingCategory>

#include "link/Diagnostics.h"

// Diagnostics of the program's set-up and of the lamp link, in Qt's logging categories.
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcLink)

// Hands the link's warnings to the "veltra.link" category while it lives.
class LinkLogging : public DiagnosticSink {
  public:
    LinkLogging();
    ~LinkLogging() override;
    LinkLogging(const LinkLogging&) = delete;
    LinkLogging& operator=(const LinkLogging&) = delete;

    void Warning(const std::string& text) override;

  private:
    DiagnosticSink* before_;
};
