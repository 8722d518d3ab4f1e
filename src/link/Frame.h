#pragma once
#include <array>
#include <cstdint>

// One fixed 40-byte lamp frame, held both as wire bytes and as decoded fields.
class CFrame {
  public:
    static constexpr int kSize = 40;
    static constexpr int kDataSize = 32;
    static constexpr std::uint8_t kStart = 0xA0;
    static constexpr std::uint8_t kEnd = 0xAF;

    std::array<std::uint8_t, kSize> Raw{};
    std::uint8_t cmd = 0;
    std::uint8_t cd1 = 0;
    std::uint8_t cd2 = 0;
    std::array<std::uint8_t, kDataSize> Data{};
    std::uint8_t err = 0;

    // Fills Raw from the fields, stamped with the given sequence number.
    void Encode(std::uint8_t sequence);
    // Copies the fields out of Raw; true when Raw carries the expected sequence number.
    bool Decode(std::uint8_t expectedSequence);
    // Sum of Raw bytes 1..37 modulo 256.
    std::uint8_t FrameChecksum() const;
};
