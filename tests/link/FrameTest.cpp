#include <gtest/gtest.h>

#include "link/Frame.h"

TEST(Frame, ExampleFrameWireBytes) {
    CFrame f;
    f.cmd = 5;
    f.cd1 = 1;
    f.Encode(1);
    std::array<std::uint8_t, 40> expected{};
    expected[0] = 0xA0;
    expected[1] = 0x01;
    expected[3] = 0x05;
    expected[4] = 0x01;
    expected[38] = 0x07;
    expected[39] = 0xAF;
    EXPECT_EQ(f.Raw, expected);
}

TEST(Frame, ChecksumWrapsModulo256) {
    CFrame f;
    f.Data.fill(0xFF);
    f.Encode(0);
    EXPECT_EQ(f.Raw[38], 0xE0);
    EXPECT_EQ(f.FrameChecksum(), 0xE0);
}

TEST(Frame, DecodeWithWrongSequenceStillReplacesFields) {
    CFrame sent;
    sent.cmd = 0x12;
    sent.cd1 = 0x34;
    sent.cd2 = 0x56;
    for (int i = 0; i < 32; ++i) sent.Data[i] = static_cast<std::uint8_t>(i * 7);
    sent.Encode(9);
    sent.Raw[2] = 0x42;  // the lamp's error byte

    CFrame got;
    got.Raw = sent.Raw;
    EXPECT_FALSE(got.Decode(10));
    EXPECT_EQ(got.cmd, 0x12);
    EXPECT_EQ(got.cd1, 0x34);
    EXPECT_EQ(got.cd2, 0x56);
    EXPECT_EQ(got.err, 0x42);
    EXPECT_EQ(got.Data, sent.Data);
    EXPECT_TRUE(got.Decode(9));
}

TEST(Frame, BadStartEndAndChecksumDecodeLikeAnyOther) {
    CFrame f;
    f.cmd = 3;
    f.Encode(4);
    f.Raw[0] = 0x00;
    f.Raw[38] ^= 0xFF;
    f.Raw[39] = 0x00;
    EXPECT_TRUE(f.Decode(4));
    EXPECT_EQ(f.cmd, 3);
}
