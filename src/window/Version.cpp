#include "window/Version.h"

#include <cstdio>
#include <cstdlib>

std::string ProgramVersion(const std::string& buildVersion) {
    long numbers[3] = {0, 0, 0};
    const char* p = buildVersion.c_str();
    for (long& n : numbers) {
        char* end = nullptr;
        const long v = std::strtol(p, &end, 10);
        if (end == p) break;
        // Version fields are 16-bit, as the version resource of the program file holds them.
        n = v < 0 ? 0 : (v > 65535 ? 65535 : v);
        p = end;
        if (*p != '.') break;
        ++p;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%ld.%ld.%ld", numbers[0], numbers[1], numbers[2]);
    return text;
}

std::string ProgramVersion() {
    return ProgramVersion(VELTRA_VERSION);
}
