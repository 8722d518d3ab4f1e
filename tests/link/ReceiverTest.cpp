#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "link/Receiver.h"

namespace {

using Raw = std::array<std::uint8_t, CFrame::kSize>;
using Bytes = std::vector<std::uint8_t>;

Raw Frame(std::uint8_t cmd, std::uint8_t first, std::uint8_t sequence = 1) {
    CFrame frame;
    frame.cmd = cmd;
    frame.Data[0] = first;
    frame.Encode(sequence);
    return frame.Raw;
}

Raw WrongChecksum(Raw raw) {
    ++raw[38];
    return raw;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes B(const Raw& raw) {
    return Bytes(raw.begin(), raw.end());
}

bool IsSound(const Raw& raw) {
    CFrame frame;
    frame.Raw = raw;
    return raw[0] == CFrame::kStart && raw[39] == CFrame::kEnd && raw[38] == frame.FrameChecksum();
}

struct Outcome {
    std::vector<Raw> Frames;
    std::vector<Raw> Damaged;
    bool operator==(const Outcome&) const = default;
};

// Feeds the pieces one after another, taking everything each settles, then ends the wait.
Outcome Receive(const Bytes& stream, const std::vector<std::size_t>& cuts) {
    CReceiver receiver;
    Outcome out;
    auto drain = [&](bool final) {
        for (auto e = receiver.Next(final); e.kind != CReceiver::Kind::kNothing;
             e = receiver.Next(final)) {
            (e.kind == CReceiver::Kind::kFrame ? out.Frames : out.Damaged).push_back(e.frame.Raw);
        }
    };
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        receiver.Feed(stream.data() + from, cut - from);
        drain(false);
        from = cut;
    }
    receiver.Feed(stream.data() + from, stream.size() - from);
    drain(false);
    drain(true);
    return out;
}

TEST(Receiver, TakesSoundFramesAndSkipsTheRest) {
    const Raw a = Frame(9, 0x42);
    const Raw b = Frame(7, 0x11, 2);
    // A reply whose checksum byte is the end byte: a start byte one before it looks framed.
    Raw endsInEnd = Frame(9, 0x42, 3);
    endsInEnd[37] = static_cast<std::uint8_t>(endsInEnd[37] + CFrame::kEnd - endsInEnd[38]);
    endsInEnd[38] = CFrame::kEnd;
    ASSERT_TRUE(IsSound(endsInEnd));
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<std::size_t> cuts;
        Outcome expected;
    };
    const Case cases[] = {
        {"one frame", B(a), {}, {{a}, {}}},
        {"one frame in single bytes", B(a), {1, 2, 3, 10, 20, 38, 39}, {{a}, {}}},
        {"noise and stray start bytes",
         Cat({{0x00, 0xA0, 0x31, 0xAF}, B(a), {0xA0}, B(b)}),
         {3, 30},
         {{a, b}, {}}},
        {"wrong checksum is reported, the next frame taken",
         Cat({B(WrongChecksum(a)), B(b)}),
         {},
         {{b}, {WrongChecksum(a)}}},
        {"truncated frame before a frame",
         Cat({Bytes(a.begin(), a.begin() + 25), B(b)}),
         {},
         {{b}, {}}},
        {"false start before a reply that ends in the end byte, tail in a second read",
         Cat({{0x31, 0xA0}, B(endsInEnd)}),
         {20},
         {{endsInEnd}, {}}},
        {"the same, with the tail's last byte late",
         Cat({{0x31, 0xA0}, B(endsInEnd)}),
         {41},
         {{endsInEnd}, {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Receive(c.stream, c.cuts), c.expected);
    }
}

TEST(Receiver, AFramedRunWaitsForAStartInsideItThenIsJudgedWhenTheWaitEnds) {
    // A damaged frame holding a start byte whose 40 bytes have not all come.
    Raw damaged = WrongChecksum(Frame(7, 0x00));
    damaged[20] = CFrame::kStart;
    CReceiver receiver;
    receiver.Feed(damaged.data(), damaged.size());
    EXPECT_EQ(receiver.Next().kind, CReceiver::Kind::kNothing);
    EXPECT_EQ(receiver.Pending(), 40u);
    const CReceiver::Event judged = receiver.Next(true);
    EXPECT_EQ(judged.kind, CReceiver::Kind::kBadChecksum);
    EXPECT_EQ(judged.frame.Raw, damaged);
    // The start byte inside is kept: its frame may still come.
    EXPECT_EQ(receiver.Next(true).kind, CReceiver::Kind::kNothing);
    EXPECT_EQ(receiver.Pending(), 20u);
    receiver.Clear();
    EXPECT_EQ(receiver.Pending(), 0u);
}

// Streams of sound frames mixed with noise (no start byte), stray bytes holding a start byte,
// truncated frames and frames with a wrong checksum.
struct Stream {
    Bytes Data;
    std::vector<Raw> Sound;
    std::vector<Raw> Damaged;
};

Stream MakeStream(std::mt19937& rng, int pieces) {
    Stream s;
    auto byte = [&] { return static_cast<std::uint8_t>(rng() & 0xFF); };
    auto randomFrame = [&] {
        CFrame frame;
        frame.cmd = byte();
        frame.cd1 = byte();
        for (auto& d : frame.Data) d = byte();
        frame.Encode(byte());
        return frame.Raw;
    };
    auto append = [&](const auto& bytes) {
        s.Data.insert(s.Data.end(), bytes.begin(), bytes.end());
    };
    for (int i = 0; i < pieces; ++i) {
        switch (rng() % 5) {
            case 0:
            case 1: {
                const Raw frame = randomFrame();
                append(frame);
                s.Sound.push_back(frame);
                break;
            }
            case 2: {
                Bytes noise(1 + rng() % 60);
                for (auto& b : noise) {
                    do b = byte();
                    while (b == CFrame::kStart);
                }
                append(noise);
                break;
            }
            case 3: {
                Bytes stray(1 + rng() % 5);
                for (auto& b : stray) b = byte();
                stray[rng() % stray.size()] = CFrame::kStart;
                append(stray);
                break;
            }
            default: {
                const Raw frame = randomFrame();
                if (rng() % 2) {
                    append(Bytes(frame.begin(), frame.begin() + 1 + rng() % 39));
                } else {
                    Raw damaged = frame;
                    damaged[1 + rng() % 38] ^= static_cast<std::uint8_t>(1 + rng() % 255);
                    append(damaged);
                    s.Damaged.push_back(damaged);
                }
            }
        }
    }
    return s;
}

TEST(Receiver, RandomSplitsOfTheSameStreamsTakeEverySoundFrameAndNothingElse) {
    std::mt19937 rng(20261210);
    for (int n = 0; n < 300; ++n) {
        const Stream stream = MakeStream(rng, 40);
        SCOPED_TRACE("stream " + std::to_string(n));
        const Outcome whole = Receive(stream.Data, {});
        ASSERT_EQ(whole.Frames, stream.Sound);
        // Every damaged frame is reported; anything else reported is framed but unsound too.
        for (const Raw& d : stream.Damaged)
            EXPECT_NE(std::find(whole.Damaged.begin(), whole.Damaged.end(), d),
                      whole.Damaged.end());
        for (const Raw& d : whole.Damaged) {
            EXPECT_FALSE(IsSound(d));
            EXPECT_EQ(d[0], CFrame::kStart);
            EXPECT_EQ(d[39], CFrame::kEnd);
        }
        for (int split = 0; split < 20; ++split) {
            std::vector<std::size_t> cuts;
            for (std::size_t at = 0; at < stream.Data.size();) {
                at += 1 + rng() % 90;
                if (at < stream.Data.size()) cuts.push_back(at);
            }
            ASSERT_EQ(Receive(stream.Data, cuts), whole) << "split " << split;
        }
    }
}

}  // namespace
