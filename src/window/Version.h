#pragma once
#include <string>

// The version text shown on the main page: the first three of the build's four version numbers
// joined by dots ("1.2.3" from "1.2.3.4"). Missing or unreadable numbers count as 0.
std::string ProgramVersion(const std::string& buildVersion);

// The same for the version this program was built with.
std::string ProgramVersion();
