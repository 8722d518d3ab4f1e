#include "window/Presets.h"

std::vector<std::string> PresetEntries(std::string_view nameList) {
    std::vector<std::string> entries{kPresetSeparator};
    while (!nameList.empty()) {
        const std::size_t end = nameList.find('\n');
        entries.emplace_back(nameList.substr(0, end));
        if (end == std::string_view::npos) break;
        nameList.remove_prefix(end + 1);
    }
    return entries;
}

std::string TrimPresetName(std::string_view typed) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    while (!typed.empty() && blank(typed.front())) typed.remove_prefix(1);
    while (!typed.empty() && blank(typed.back())) typed.remove_suffix(1);
    return std::string(typed.substr(0, kPresetNameLength));
}

bool SavablePresetName(std::string_view name) {
    return !name.empty() && name.front() != '-' && name.front() != '[';
}
