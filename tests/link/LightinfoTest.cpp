#include <gtest/gtest.h>

#include <vector>

#include "link/Lightinfo.h"

namespace {

// A lamp copy as a load would leave it: magic set, the rest given by the test.
CLightInfo Loaded(std::uint32_t lampCount, bool matchingChecksum) {
    CLightInfo info;
    info.Reset();
    CLightInfo::WriteLe32(&info.LampBlock[CLightInfo::kMagicOffset], CLightInfo::InfoMagic);
    CLightInfo::WriteLe32(&info.LampBlock[CLightInfo::kStoredChannelCountOffset], lampCount);
    if (matchingChecksum)
        CLightInfo::WriteLe32(&info.LampBlock[0], CLightInfo::InfoChecksum(info.LampBlock));
    EXPECT_TRUE(info.Accept());
    return info;
}

std::vector<int> ChangedBlockPieces(const CLightInfo& info) {
    std::vector<int> offsets;
    for (int offset = 0; offset < info.BlockSize(); offset += CLightInfo::kPieceSize)
        if (info.BlockPieceChanged(offset)) offsets.push_back(offset);
    return offsets;
}

bool AnyAreaPieceChanged(const CLightInfo& info) {
    for (int offset = 0; offset < info.AreaSize(); offset += CLightInfo::kPieceSize)
        if (info.AreaPieceChanged(offset)) return true;
    return false;
}

TEST(LightinfoTest, ChecksumOfKnownBlocks) {
    CLightInfo::BlockImage block{};
    CLightInfo::WriteLe32(&block[CLightInfo::kMagicOffset], CLightInfo::InfoMagic);
    EXPECT_EQ(block[4], 0xD1);
    EXPECT_EQ(block[7], 0xAD);
    EXPECT_EQ(CLightInfo::InfoChecksum(block), 0x01A7ED00u);
    CLightInfo::WriteLe32(&block[CLightInfo::kStoredChannelCountOffset], 10);
    EXPECT_EQ(CLightInfo::InfoChecksum(block), 0x41A7ED01u);
    // Bytes 0..3 hold the checksum itself and do not take part.
    CLightInfo::WriteLe32(&block[0], 0xFFFFFFFF);
    EXPECT_EQ(CLightInfo::InfoChecksum(block), 0x41A7ED01u);
}

TEST(LightinfoTest, LoadSetsCountTenButStagesTheLampsOwn) {
    CLightInfo info = Loaded(7, true);
    EXPECT_EQ(info.StoredChannelCount(), 10u);
    EXPECT_EQ(CLightInfo::ReadLe32(&info.StagedBlock[CLightInfo::kStoredChannelCountOffset]), 7u);
    info.PrepareWrite();
    // The count piece goes out with 10, the checksum piece with the new sum; nothing else.
    EXPECT_EQ(ChangedBlockPieces(info), (std::vector<int>{0, 32}));
    EXPECT_FALSE(AnyAreaPieceChanged(info));
    const CLightInfo::Piece piece = info.StagedBlockPiece(32);
    EXPECT_EQ(CLightInfo::ReadLe32(piece.data()), 10u);
    EXPECT_EQ(CLightInfo::ReadLe32(info.StagedBlockPiece(0).data()), 0x41A7ED01u);
    info.CommitWrite();
    EXPECT_EQ(info.LampBlock, info.StagedBlock);
    info.PrepareWrite();
    EXPECT_TRUE(ChangedBlockPieces(info).empty());
}

TEST(LightinfoTest, SaveAfterLoadSendsNothingWhenLampAlreadyAgrees) {
    CLightInfo agreeing = Loaded(10, true);
    agreeing.PrepareWrite();
    EXPECT_TRUE(ChangedBlockPieces(agreeing).empty());
    // A stale checksum alone costs exactly the first piece.
    CLightInfo stale = Loaded(10, false);
    stale.PrepareWrite();
    EXPECT_EQ(ChangedBlockPieces(stale), (std::vector<int>{0}));
}

TEST(LightinfoTest, EditsReachOnlyTheirPieces) {
    CLightInfo info = Loaded(10, true);
    info.SetLastChannel(7);             // offset 55: piece 32
    info.SetChannelName(9, "Reading");  // offset 304: piece 288
    info.SetCoefficient(0, 1, 0x1234);  // area offset 514: piece 512
    info.PrepareWrite();
    EXPECT_EQ(ChangedBlockPieces(info), (std::vector<int>{0, 32, 288}));
    EXPECT_TRUE(info.AreaPieceChanged(512));
    EXPECT_FALSE(info.AreaPieceChanged(0));
    EXPECT_EQ(info.StagedArea[514], 0x34);
    EXPECT_EQ(info.StagedArea[515], 0x12);
}

TEST(LightinfoTest, FieldsAtTheirOddOffsetsLittleEndian) {
    CLightInfo info;
    info.SetLastChannel(0x01020304);
    EXPECT_EQ(info.Block[55], 0x04);
    EXPECT_EQ(info.Block[58], 0x01);
    info.Block[50] = 0x78;
    info.Block[51] = 0x56;
    info.Block[52] = 0x34;
    info.Block[53] = 0x12;
    EXPECT_EQ(info.InfoWord(), 0x12345678u);
    EXPECT_EQ(info.LastChannel(), 0x01020304u);
    info.SetDeviceName("A much too long name");
    EXPECT_EQ(info.DeviceName(), "A much to");
    EXPECT_EQ(info.Block[49], 0);
}

TEST(LightinfoTest, ChannelNames) {
    CLightInfo info;
    info.SetChannelName(0, "Red");
    EXPECT_EQ(info.ChannelNameBytes(0), "Red" + std::string(13, ' '));
    EXPECT_EQ(info.ChannelName(0), "Red");
    // Bytes from the first NUL on become spaces; the name is cut to 16 bytes.
    info.SetChannelName(1, std::string("ab\0cd", 5));
    EXPECT_EQ(info.ChannelNameBytes(1), "ab" + std::string(14, ' '));
    info.SetChannelName(2, "0123456789abcdefXYZ");
    EXPECT_EQ(info.ChannelNameBytes(2), "0123456789abcdef");
    // Erased or blank slots read as no name; stored text is trimmed of blanks and controls.
    std::fill_n(info.Block.begin() + 160 + 3 * 16, 16, 0xFF);
    EXPECT_EQ(info.ChannelName(3), "");
    info.Block[160 + 4 * 16] = 0;
    EXPECT_EQ(info.ChannelName(4), "");
    const std::string stored = std::string("\t Warm\r\n") + '\0' + "junk" + "   ";
    std::copy(stored.begin(), stored.end(), info.Block.begin() + 160 + 5 * 16);
    EXPECT_EQ(info.ChannelName(5), "Warm");
    // Slots outside the ten are refused, not written past the table.
    info.SetChannelName(10, "Nope");
    EXPECT_EQ(info.ChannelNameBytes(10), "");
    EXPECT_EQ(info.Block[320], 0);
}

TEST(LightinfoTest, BlockWithoutMagicIsRefusedButCopied) {
    CLightInfo info;
    info.LampBlock[100] = 0x5A;
    info.LampArea[700] = 0x33;
    EXPECT_FALSE(info.Accept());
    EXPECT_EQ(info.Block[100], 0x5A);
    EXPECT_EQ(info.Area[700], 0x33);
    EXPECT_EQ(info.StagedArea[700], 0x33);
    EXPECT_FALSE(info.LoadBlockPiece(512, {}));
    EXPECT_FALSE(info.LoadAreaPiece(-32, {}));
    EXPECT_FALSE(info.LoadBlockPiece(5, {}));
}

TEST(LightinfoTest, CopyBlockBetweenLamps) {
    CLightInfo main = Loaded(10, true);
    main.SetChannelName(0, "Shared");
    CLightInfo other;
    main.CopyBlockTo(other);
    EXPECT_EQ(other.Block, main.Block);
    EXPECT_NE(other.LampBlock, main.LampBlock);  // only the live copy moves
}

}  // namespace
