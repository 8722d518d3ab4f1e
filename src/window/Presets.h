#pragma once
#include <string>
#include <string_view>
#include <vector>

// The settings box's rules without the toolkit: its entries and the names it saves.

// The first entry of the preset box, which stands for "no preset".
inline constexpr const char* kPresetSeparator = "--------------------";
inline constexpr std::size_t kPresetNameLength = 15;

// The separator followed by one entry per line of the stored names.
std::vector<std::string> PresetEntries(std::string_view nameList);
// The typed name without leading and trailing blanks and control characters, cut to 15
// characters.
std::string TrimPresetName(std::string_view typed);
// A name worth saving: not empty, and not starting with "-" or "[".
bool SavablePresetName(std::string_view name);
