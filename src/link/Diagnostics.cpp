#include "link/Diagnostics.h"

#include <atomic>
#include <cstdio>

namespace {
std::atomic<DiagnosticSink*> g_sink{nullptr};
}  // namespace

DiagnosticSink* SetDiagnosticSink(DiagnosticSink* sink) {
    return g_sink.exchange(sink);
}

void LinkWarning(const std::string& text) {
    if (DiagnosticSink* sink = g_sink.load()) {
        sink->Warning(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}
