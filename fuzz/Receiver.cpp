// Feeds arbitrary bytes to the lamp link's receiver in arbitrary pieces: whatever arrives, it
// hands out only sound frames, reports only framed bytes whose checksum fails, holds on to no
// more than a frame's worth of undecided bytes, and settles a stream the same way however it is
// split. Two sound frames after the bytes are always taken, the second in any case.
#include "link/Receiver.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool Framed(const CFrame& frame) {
    return frame.Raw[0] == CFrame::kStart && frame.Raw[CFrame::kSize - 1] == CFrame::kEnd;
}

struct Settled {
    std::vector<CReceiver::Event> Events;
    void Take(CReceiver& receiver, bool final) {
        for (auto e = receiver.Next(final); e.kind != CReceiver::Kind::kNothing;
             e = receiver.Next(final)) {
            Check(Framed(e.frame));
            const bool sound = e.frame.Raw[38] == e.frame.FrameChecksum();
            Check(sound == (e.kind == CReceiver::Kind::kFrame));
            Events.push_back(e);
        }
        // Undecided bytes are at most a failed frame and a start byte waiting inside it.
        Check(receiver.Pending() < 2 * CFrame::kSize);
    }
};

bool Same(const Settled& a, const Settled& b) {
    if (a.Events.size() != b.Events.size()) return false;
    for (std::size_t i = 0; i < a.Events.size(); ++i)
        if (a.Events[i].kind != b.Events[i].kind || a.Events[i].frame.Raw != b.Events[i].frame.Raw)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // Piece lengths first, then the stream itself.
    std::vector<std::size_t> pieces;
    const std::size_t count = input.ConsumeIntegralInRange<std::size_t>(0, 32);
    for (std::size_t i = 0; i < count; ++i)
        pieces.push_back(input.ConsumeIntegralInRange<std::size_t>(0, 100));
    std::vector<std::uint8_t> stream = input.ConsumeRemainingBytes<std::uint8_t>();

    // Two sound frames without start or end bytes inside: nothing before them can reach past
    // the first, so the second is always taken and is the last frame handed out.
    CFrame first;
    first.cmd = 0x07;
    first.Encode(0x11);
    CFrame second;
    second.cmd = 0x09;
    second.Data[0] = 0x42;
    second.Encode(0x12);
    std::vector<std::uint8_t> tail(stream);
    tail.insert(tail.end(), first.Raw.begin(), first.Raw.end());
    tail.insert(tail.end(), second.Raw.begin(), second.Raw.end());

    for (const auto* bytes : {&stream, &tail}) {
        CReceiver whole;
        Settled once;
        whole.Feed(bytes->data(), bytes->size());
        once.Take(whole, false);
        once.Take(whole, true);

        CReceiver split;
        Settled inPieces;
        std::size_t at = 0;
        for (std::size_t piece : pieces) {
            piece = std::min(piece, bytes->size() - at);
            split.Feed(bytes->data() + at, piece);
            at += piece;
            inPieces.Take(split, false);
        }
        split.Feed(bytes->data() + at, bytes->size() - at);
        inPieces.Take(split, false);
        inPieces.Take(split, true);
        Check(Same(once, inPieces));

        if (bytes == &tail) {
            const CReceiver::Event* last = nullptr;
            for (const auto& e : once.Events)
                if (e.kind == CReceiver::Kind::kFrame) last = &e;
            Check(last != nullptr && last->frame.Raw == second.Raw);
        }
    }
    return 0;
}
