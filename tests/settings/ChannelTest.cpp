#include <gtest/gtest.h>

#include <algorithm>

#include "settings/Channel.h"

namespace {

TEST(Channel, SlotAndStoredConstructors) {
    CChannel slot(7);
    EXPECT_EQ(slot.SlotNumber, 7);
    EXPECT_EQ(slot.Name, "Channel 7");
    CChannel stored;
    EXPECT_EQ(stored.SlotNumber, -1);
    EXPECT_EQ(stored.Name, "");
    for (int v : slot.ColorValues) EXPECT_EQ(v, 0);
}

TEST(Channel, ResetAndCopyLeaveFlagsAndSlotAlone) {
    CChannel a(3);
    a.Name = "Warm";
    a.ColorValues.fill(9);
    a.ModeFlags = 5;
    a.DisplayFlags = 6;
    a.Info = 11;

    CChannel b(12);
    b.ModeFlags = 1;
    b.CopyFrom(a);
    EXPECT_EQ(b.Name, "Warm");
    EXPECT_EQ(b.ColorValues, a.ColorValues);
    EXPECT_EQ(b.SlotNumber, 12);
    EXPECT_EQ(b.ModeFlags, 1);
    EXPECT_EQ(b.Info, 0);

    a.ResetToDefault();
    EXPECT_EQ(a.Name, "Channel 3");
    for (int v : a.ColorValues) EXPECT_EQ(v, 0);
    EXPECT_EQ(a.ModeFlags, 5);
    EXPECT_EQ(a.DisplayFlags, 6);
}

TEST(Channel, EncodeBlockLayout) {
    CChannel c(1);
    for (int i = 0; i < 16; ++i) c.ColorValues[i] = 0x0100 * (i + 1) + i;  // high i+1, low i
    c.ColorValues[12] = 0x1234;
    c.ColorValues[15] = 0xABCD;
    c.ModeFlags = 0x1FE;
    c.DisplayFlags = 0x37;
    const CChannel::Block b = c.EncodeBlock();
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(b[2 * i], i + 1) << i;
        EXPECT_EQ(b[2 * i + 1], i) << i;
    }
    EXPECT_EQ(b[24], 0x34);  // low byte of value 12
    EXPECT_EQ(b[25], 0xFE);  // low byte of the mode word
    EXPECT_EQ(b[26], 14);
    EXPECT_EQ(b[27], 13);
    EXPECT_EQ(b[28], 15);
    EXPECT_EQ(b[29], 14);
    EXPECT_EQ(b[30], 0xAB);
    EXPECT_EQ(b[31], 0x37);
}

TEST(Channel, DecodeThenEncodeReproducesTheBlock) {
    CChannel::Block in{};
    for (int i = 0; i < 32; ++i) in[i] = static_cast<std::uint8_t>(0xF0 - 7 * i);
    CChannel c(2);
    c.DecodeBlock(in);
    EXPECT_EQ(c.ColorValues[0], 0xF0 * 256 + 0xE9);
    EXPECT_EQ(c.ColorValues[12], in[24]);
    EXPECT_EQ(c.ModeFlags, in[25]);
    EXPECT_EQ(c.DisplayFlags, in[31]);
    EXPECT_EQ(c.ColorValues[15] & 0xFF, c.DisplayFlags);
    EXPECT_EQ(c.EncodeBlock(), in);
}

TEST(Channel, SummaryImage) {
    CChannel c(0);
    c.ColorValues[6] = 6500;
    c.ColorValues[10] = 0x1122;
    c.ColorValues[11] = 0x3344;
    c.ColorValues[12] = 0x155;
    c.ColorValues[13] = 0xFFEE;
    CChannel::Block expected{};
    const std::uint8_t head[] = {0x19, 0x64, 0x11, 0x22, 0x33, 0x44, 0x55, 0xFF, 0xEE};
    std::copy(std::begin(head), std::end(head), expected.begin());
    EXPECT_EQ(c.EncodeSummary(), expected);
}

}  // namespace
