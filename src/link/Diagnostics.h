#pragma once
#include <string>

// Where the link's warnings go. The link has no logging of its own: the program hands them to
// its logging, and without a sink they go to standard error.
class DiagnosticSink {
  public:
    virtual ~DiagnosticSink() = default;
    // Called on whichever thread warns, the controller's included.
    virtual void Warning(const std::string& text) = 0;
};

// Sends the link's warnings to `sink` (nullptr: standard error) and returns the sink before.
// The sink must outlive its use; installing it before the controller starts keeps that simple.
DiagnosticSink* SetDiagnosticSink(DiagnosticSink* sink);

// One warning, as one line without its line end.
void LinkWarning(const std::string& text);
