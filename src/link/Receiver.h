#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/Frame.h"

// Turns the bytes read from a lamp's port, in whatever pieces they arrive, into whole frames.
// A frame counts only when it starts with 0xA0, ends 39 bytes on with 0xAF and its checksum
// holds; anything else is skipped up to the next start byte. A framed run of 40 bytes whose
// checksum fails is reported, unless a sound frame starts inside it (then its start byte was
// a stray one); while a start byte inside it still lacks bytes, the receiver waits for them.
class CReceiver {
  public:
    enum class Kind {
        kNothing,      // no frame is complete yet
        kFrame,        // a sound frame, Raw filled, not yet decoded
        kBadChecksum,  // framed bytes whose checksum failed, Raw filled; skipped
    };
    struct Event {
        Kind kind = Kind::kNothing;
        CFrame frame;
    };

    // Bytes as they came from the port.
    void Feed(const std::uint8_t* bytes, std::size_t count);
    // The next thing the bytes fed so far settle. With `final`, bytes still missing are taken
    // as never coming (the reply wait ran out), so a frame waiting only on them is judged now.
    Event Next(bool final = false);
    // Forgets every byte held, as after reopening the port.
    void Clear();
    // Bytes held but not yet settled.
    std::size_t Pending() const { return bytes_.size() - head_; }

  private:
    bool Framed(std::size_t at) const;
    bool Sound(std::size_t at) const;
    void Drop(std::size_t count);

    std::vector<std::uint8_t> bytes_;
    // Bytes before head_ are settled; they are let go of in batches.
    std::size_t head_ = 0;
};
