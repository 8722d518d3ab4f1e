#include "link/Receiver.h"

#include <algorithm>

namespace {
constexpr std::size_t kSize = CFrame::kSize;
}  // namespace

void CReceiver::Feed(const std::uint8_t* bytes, std::size_t count) {
    if (head_ > 0 && head_ >= bytes_.size() / 2) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    bytes_.insert(bytes_.end(), bytes, bytes + count);
}

void CReceiver::Clear() {
    bytes_.clear();
    head_ = 0;
}

void CReceiver::Drop(std::size_t count) {
    head_ = std::min(head_ + count, bytes_.size());
}

bool CReceiver::Framed(std::size_t at) const {
    return at + kSize <= bytes_.size() && bytes_[at] == CFrame::kStart &&
           bytes_[at + kSize - 1] == CFrame::kEnd;
}

bool CReceiver::Sound(std::size_t at) const {
    if (!Framed(at)) return false;
    unsigned sum = 0;
    for (std::size_t i = at + 1; i <= at + 37; ++i) sum += bytes_[i];
    return static_cast<std::uint8_t>(sum) == bytes_[at + 38];
}

CReceiver::Event CReceiver::Next(bool final) {
    Event event;
    for (;;) {
        const auto start = std::find(bytes_.begin() + static_cast<std::ptrdiff_t>(head_),
                                     bytes_.end(), CFrame::kStart);
        head_ = static_cast<std::size_t>(start - bytes_.begin());
        if (Pending() < kSize) return event;
        if (Sound(head_)) {
            event.kind = Kind::kFrame;
            std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(head_), kSize,
                        event.frame.Raw.begin());
            Drop(kSize);
            return event;
        }
        if (!Framed(head_)) {
            // A start byte without its end byte is a stray one.
            Drop(1);
            continue;
        }
        // Framed but the checksum fails: a damaged frame, or a stray start byte that by chance
        // sits 39 bytes before an end byte inside the real frame. A sound frame starting within
        // it tells; one still missing its tail may yet tell.
        bool strayStart = false;
        for (std::size_t at = head_ + 1; at < head_ + kSize; ++at) {
            if (bytes_[at] != CFrame::kStart) continue;
            if (at + kSize > bytes_.size()) {
                if (!final) return event;
                break;
            }
            if (Sound(at)) {
                Drop(at - head_);
                strayStart = true;
                break;
            }
        }
        if (strayStart) continue;
        event.kind = Kind::kBadChecksum;
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(head_), kSize,
                    event.frame.Raw.begin());
        // Scan on from the next start byte: the damage may have hit the frame's length too.
        Drop(1);
        return event;
    }
}
