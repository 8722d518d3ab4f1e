#include "settings/Channel.h"

#include <cstdio>

#include "settings/Number.h"
#include "settings/Xml.h"

namespace {

std::string ColorKey(int index) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "color%d.value", index);
    return buffer;
}

std::string SlotName(int slot) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "Channel %d", slot);
    return buffer;
}

// Values are meant to lie in 0..65535; outside that the bytes are what integer division
// and remainder give, as the lamp has always received them.
void PutWord(CChannel::Block& block, int at, std::int32_t value) {
    block[at] = static_cast<std::uint8_t>(value / 256);
    block[at + 1] = static_cast<std::uint8_t>(value % 256);
}

}  // namespace

CChannel::CChannel(int slot) : Name(SlotName(slot)), SlotNumber(slot) {}

void CChannel::ResetToDefault() {
    Name = SlotName(SlotNumber);
    ColorValues.fill(0);
}

void CChannel::CopyFrom(const CChannel& other) {
    Name = other.Name;
    ColorValues = other.ColorValues;
}

CChannel::Block CChannel::EncodeBlock() const {
    Block block{};
    for (int i = 0; i < 12; ++i) PutWord(block, 2 * i, ColorValues[i]);
    block[24] = static_cast<std::uint8_t>(ColorValues[12]);
    block[25] = static_cast<std::uint8_t>(ModeFlags);
    PutWord(block, 26, ColorValues[13]);
    PutWord(block, 28, ColorValues[14]);
    block[30] = static_cast<std::uint8_t>(ColorValues[15] / 256);
    block[31] = static_cast<std::uint8_t>(DisplayFlags);
    return block;
}

void CChannel::DecodeBlock(const Block& block) {
    for (int i = 0; i < kValueCount; ++i) ColorValues[i] = block[2 * i] * 256 + block[2 * i + 1];
    ColorValues[12] = block[24];
    ModeFlags = block[25];
    DisplayFlags = block[31];
}

CChannel::Block CChannel::EncodeSummary() const {
    Block block{};
    PutWord(block, 0, ColorValues[6]);
    PutWord(block, 2, ColorValues[10]);
    PutWord(block, 4, ColorValues[11]);
    block[6] = static_cast<std::uint8_t>(ColorValues[12]);
    PutWord(block, 7, ColorValues[13]);
    return block;
}

void CChannel::ReadFrom(const CXML& document, std::string prefix) {
    if (prefix.empty() || prefix.back() != '.') prefix += '.';
    Name = document.GetValue(prefix + "name");
    for (int i = 0; i < kValueCount; ++i)
        ColorValues[i] = ReadLeadingInt(document.GetValue(prefix + ColorKey(i)));
}

void CChannel::WriteTo(CXML& document, std::string prefix) const {
    if (prefix.empty() || prefix.back() != '.') prefix += '.';
    document.SetValue(prefix + "name", Name, {});
    for (int i = 0; i < kValueCount; ++i)
        document.SetIntValue(prefix + ColorKey(i), ColorValues[i]);
}
