#pragma once
#include <array>
#include <cstdint>
#include <string>

class CXML;

// One light setting: a lamp slot record held by the lamp controller, or a stored channel
// (preset) held by CchannelValues.
class CChannel {
  public:
    static constexpr int kValueCount = 16;
    static constexpr int kBlockSize = 32;
    using Block = std::array<std::uint8_t, kBlockSize>;

    // A stored channel: SlotNumber -1, empty name, all values 0.
    CChannel() = default;
    // A lamp slot record: SlotNumber n, named "Channel n", all values 0.
    explicit CChannel(int slot);

    // Copied from the lamp information block when the controller connects.
    std::int32_t Info = 0;
    std::string Name;
    std::array<std::int32_t, kValueCount> ColorValues{};
    std::int32_t ModeFlags = 0;
    std::int32_t DisplayFlags = 0;
    std::int32_t SlotNumber = -1;

    // Name back to "Channel <SlotNumber>", the sixteen values to 0; flag words stay.
    void ResetToDefault();
    // Takes the name and the sixteen values; flags, slot number and info word stay.
    void CopyFrom(const CChannel& other);

    // The 32-byte channel block of the lamp commands, numbers high byte first.
    Block EncodeBlock() const;
    void DecodeBlock(const Block& block);
    // The 32-byte summary image sent to ask the lamp for the gamut of this setting.
    Block EncodeSummary() const;

    // Name and sixteen values below the given path prefix of a settings document;
    // a prefix without a trailing "." gets one.
    void ReadFrom(const CXML& document, std::string prefix);
    void WriteTo(CXML& document, std::string prefix) const;

    bool operator==(const CChannel&) const = default;
};
