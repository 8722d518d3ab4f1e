#include "settings/Options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "settings/Number.h"

namespace {

std::string OptionPath(std::string_view key) {
    while (!key.empty() && static_cast<unsigned char>(key.front()) <= 0x20) key.remove_prefix(1);
    while (!key.empty() && static_cast<unsigned char>(key.back()) <= 0x20) key.remove_suffix(1);
    return "options." + std::string(key);
}

}  // namespace

Coptions::Coptions(const std::string& dataFolder) {
    filePath_ = dataFolder;
    if (!filePath_.empty() && filePath_.back() != '/') filePath_ += '/';
    filePath_ += kFileName;
    // A file that parses only partly but has the right root is accepted.
    const int result = document_.LoadFromFile(filePath_);
    if (document_.Exists("options")) return;
    document_.Clear();
    struct stat file {};
    if (::stat(filePath_.c_str(), &file) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        problem_ = Problem::Missing;
    } else if (result == CXML::kCannotOpen || result == CXML::kShortTransfer) {
        problem_ = Problem::Unreadable;
    } else {
        problem_ = Problem::Damaged;
    }
}

std::string Coptions::ProblemText() const {
    switch (problem_) {
        case Problem::None:
            return {};
        case Problem::Missing:
            return std::string(kMissingMessage) + "\n" + filePath_;
        case Problem::Unreadable:
            return std::string(kUnreadableMessage) + "\n" + filePath_;
        case Problem::Damaged:
            break;
    }
    return std::string(kDamagedMessage) + "\n" + filePath_;
}

std::string Coptions::GetString(std::string_view key) const {
    return document_.GetValue(OptionPath(key));
}

double Coptions::GetFloat(std::string_view key) const {
    std::string text = GetString(key);
    std::replace(text.begin(), text.end(), ',', '.');
    std::string_view rest = text;
    while (!rest.empty() && (rest.front() == ' ' || (rest.front() >= '\t' && rest.front() <= '\r')))
        rest.remove_prefix(1);
    // Only the exponent can carry a number out of range: towards 0 it reads as 0, and beyond
    // the largest real there is no number to give, so it reads as missing, also 0.
    return LeadingNumber(rest).value_or(0.0);
}

double Coptions::GetChromaticity(std::string_view key) const {
    return std::clamp(GetFloat(key), kChromaticityMin, kChromaticityMax);
}

bool Coptions::GetBool(std::string_view key) const {
    return GetInt(key) > 0;
}

std::int32_t Coptions::GetInt(std::string_view key) const {
    return ReadLeadingInt(GetString(key));
}

int Coptions::SimulatedLamps() const {
    // Each simulated lamp is a device to open and a window list entry; a few cover any demo,
    // and a million would keep the window from ever showing.
    return std::clamp<std::int32_t>(GetInt("SIMULATE"), 0, kMaxSimulatedLamps);
}

bool Coptions::StoreFlag(std::string_view key, bool on) {
    const std::string path = OptionPath(key);
    const char* value = on ? "1" : "0";
    if (problem_ == Problem::None) document_.SetValue(path, value);
    CXML file;
    if (file.LoadFromFile(filePath_) != CXML::kOk || !file.Exists("options")) return false;
    file.SetValue(path, value);
    return file.SaveToFile(filePath_) == CXML::kOk;
}
