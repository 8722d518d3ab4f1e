#include "settings/Options.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

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

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
    return text;
}

std::string_view WithoutSign(std::string_view text) {
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
    return text;
}

// The whole text, blanks aside, is a whole number.
bool IsWhole(std::string_view text) {
    text = WithoutSign(Trimmed(text));
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The whole text, blanks aside and "," read as ".", is a real number.
bool IsReal(std::string text) {
    std::replace(text.begin(), text.end(), ',', '.');
    const std::string_view number = WithoutSign(Trimmed(text));
    return !number.empty() && NumberLength(number) == number.size();
}

enum class Kind { Flag, Whole, Real };

struct KnownKey {
    const char* key;
    Kind kind;
    const char* used;  // what a value that does not read as its kind gives
};

// The keys the program reads as numbers or flags.
constexpr KnownKey kKnownKeys[] = {
    {"LOG", Kind::Flag, "off"},         {"TEST", Kind::Flag, "off"},
    {"SD", Kind::Flag, "off"},          {"C1S", Kind::Flag, "off"},
    {"FOLLOW", Kind::Flag, "off"},      {"SIMULATE", Kind::Whole, "one simulated lamp"},
    {"OFFSET_X", Kind::Real, "0"},      {"OFFSET_Y", Kind::Real, "0"},
    {"R.X", Kind::Real, "0"},           {"R.Y", Kind::Real, "0"},
    {"G.X", Kind::Real, "0"},           {"G.Y", Kind::Real, "0"},
    {"B.X", Kind::Real, "0"},           {"B.Y", Kind::Real, "0"},
    {"SPEED", Kind::Real, "38400"},     {"LANG.ITEMS", Kind::Real, "0"},
    {"LANG.X", Kind::Real, "0"},        {"LANG.Y", Kind::Real, "0"},
    {"LANG.OFFSET_X", Kind::Real, "0"}, {"LANG.OFFSET_Y", Kind::Real, "0"},
    {"MATCH.WAIT", Kind::Real, ""},     {"MATCH.AUTO", Kind::Flag, "off"},
};

// A value as a message quotes it: at most this many characters.
constexpr std::size_t kQuotedLength = 12;

}  // namespace

// The text starts, blanks aside, with a whole number, as ReadLeadingInt reads one.
bool StartsWhole(std::string_view text) {
    text = WithoutSign(Trimmed(text));
    return !text.empty() && text.front() >= '0' && text.front() <= '9';
}

int Coptions::SimulatedLamps() const {
    const std::string text = GetString("SIMULATE");
    if (!Trimmed(text).empty() && !StartsWhole(text)) return 1;
    // Each simulated lamp is a device to open and a window list entry; a few cover any demo,
    // and a million would keep the window from ever showing.
    return std::clamp<std::int32_t>(GetInt("SIMULATE"), 0, kMaxSimulatedLamps);
}

int Coptions::MatchWaitMs() const {
    const double seconds = GetFloat("MATCH.WAIT");
    const bool usable = seconds > 0.0 && seconds <= kLongestMatchWait;
    return static_cast<int>(std::lround((usable ? seconds : kDefaultMatchWait) * 1000.0));
}

std::vector<Coptions::Misread> Coptions::Misreads() const {
    std::vector<Misread> misreads;
    for (const KnownKey& known : kKnownKeys) {
        const std::string text = GetString(known.key);
        // A missing or empty key is no misreading: its default is meant.
        if (Trimmed(text).empty()) continue;
        bool readable = known.kind == Kind::Real ? IsReal(text) : IsWhole(text);
        const std::string_view key = known.key;
        // A wait of no time or of hours is no wait a match can use either.
        if (key == "MATCH.WAIT" && readable)
            readable = std::lround(GetFloat(key) * 1000.0) == MatchWaitMs();
        if (readable) continue;
        std::string value(Trimmed(text));
        if (value.size() > kQuotedLength) value = value.substr(0, kQuotedLength - 3) + "...";
        // What the callers make of it: a number at its start still counts ("2 lamps" is 2).
        std::string used = known.used;
        if (known.kind == Kind::Flag) {
            used = GetBool(key) ? "on" : "off";
        } else if (key == "SIMULATE") {
            const int lamps = SimulatedLamps();
            used = lamps == 0   ? "the USB lamps"
                   : lamps == 1 ? "one simulated lamp"
                                : std::to_string(lamps) + " simulated lamps";
        } else if (const double v = GetFloat(key); key == "SPEED") {
            // As the link takes it: below 9600 baud, or absurd, it runs at 38400.
            if (v >= 9600 && v <= 3000000) used = std::to_string(static_cast<std::int32_t>(v));
        } else {
            used = std::to_string(key == "MATCH.WAIT" ? MatchWaitMs() / 1000.0 : v);
            used.erase(used.find_last_not_of('0') + 1);
            if (used.back() == '.') used.pop_back();
            if (key == "MATCH.WAIT") used += " s";
        }
        misreads.push_back({known.key, value, used});
    }
    return misreads;
}

std::string Coptions::MisreadText(const Misread& misread) {
    return misread.key + " \"" + misread.value + "\" not understood: " + misread.used + " used";
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
