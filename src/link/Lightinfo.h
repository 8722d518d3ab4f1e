#pragma once
#include <array>
#include <cstdint>
#include <string>

// A lamp's 512-byte information block (memory page 0) and 1024-byte information area
// (pages 256 and 257), each held three times: what the lamp holds, what the next save is to
// write, and the live copy the program reads and edits. Saving then sends only what changed.
class CLightInfo {
  public:
    static constexpr std::int32_t kBlockSize = 512;
    static constexpr std::int32_t kAreaSize = 1024;
    // Lamp memory moves in pieces of this size.
    static constexpr std::int32_t kPieceSize = 32;

    // Block layout; numbers are little-endian, at these offsets even where unaligned.
    static constexpr std::uint32_t InfoMagic = 0xADA001D1;
    static constexpr int kChecksumOffset = 0;
    static constexpr int kMagicOffset = 4;
    static constexpr int kStoredChannelCountOffset = 32;
    static constexpr int kDeviceNameOffset = 40;
    static constexpr int kDeviceNameSize = 10;  // terminator included
    static constexpr int kInfoWordOffset = 50;
    static constexpr int kLastChannelOffset = 55;
    static constexpr int kChannelNamesOffset = 160;
    static constexpr int kChannelNameSize = 16;
    static constexpr int kChannelNameCount = 10;
    // The program keeps this many channels in the lamp, whatever the lamp says.
    static constexpr std::uint32_t kProgramChannelCount = 10;
    // Area layout: the coefficient table, rows of three unsigned 16-bit values.
    static constexpr int kCoefficientOffset = 512;
    static constexpr int kCoefficientRows = 50;

    using BlockImage = std::array<std::uint8_t, kBlockSize>;
    using AreaImage = std::array<std::uint8_t, kAreaSize>;
    using Piece = std::array<std::uint8_t, kPieceSize>;

    std::int32_t BlockSize() const { return kBlockSize; }
    std::int32_t AreaSize() const { return kAreaSize; }

    // What the lamp is known to hold: last loaded or last written.
    BlockImage LampBlock{};
    AreaImage LampArea{};
    // What the next save is to write.
    BlockImage StagedBlock{};
    AreaImage StagedArea{};
    // The live copies the rest of the program reads and edits.
    BlockImage Block{};
    AreaImage Area{};

    // Rotate-left-by-3-and-add over bytes 4..511.
    static std::uint32_t InfoChecksum(const BlockImage& block);

    // Clears the lamp copies before a load.
    void Reset();
    // Load side: one piece from the lamp into the lamp copy; false for an offset outside it.
    bool LoadBlockPiece(int offset, const Piece& bytes);
    bool LoadAreaPiece(int offset, const Piece& bytes);
    // Takes a completed load into the live and staged copies; true when the block carries the
    // magic value. The copies are made either way.
    bool Accept();

    // Readies the staged copies for a save: magic and a fresh checksum in the live block.
    void PrepareWrite();
    // Save side: whether the staged piece at an offset differs from the lamp copy, and the
    // staged bytes themselves. Offsets outside the image report no change and zero bytes.
    bool BlockPieceChanged(int offset) const;
    bool AreaPieceChanged(int offset) const;
    Piece StagedBlockPiece(int offset) const;
    Piece StagedAreaPiece(int offset) const;
    // After a completed save the lamp holds what was staged.
    void CommitWrite();

    // Another lamp's live block takes this lamp's live block.
    void CopyBlockTo(CLightInfo& other) const;

    // Fields of the live block.
    bool HasMagic() const;
    std::uint32_t StoredChannelCount() const;
    void SetStoredChannelCount(std::uint32_t count);
    // Text up to the terminator or the end of the field.
    std::string DeviceName() const;
    // Cut to fit with its terminator.
    void SetDeviceName(const std::string& name);
    std::uint32_t InfoWord() const;
    std::uint32_t LastChannel() const;
    void SetLastChannel(std::uint32_t channel);
    // The 16 stored bytes of channel name slot 0..9 (channels 1 to 10); empty for a bad slot.
    std::string ChannelNameBytes(int slot) const;
    // The name as text: empty when its first byte is 0 or 0xFF; else up to a NUL or the 16th
    // byte, trimmed of leading and trailing blanks and control characters.
    std::string ChannelName(int slot) const;
    // Stores the first 16 bytes of the name, every byte from the first NUL on and the rest of
    // the field padded with spaces, no terminator. A bad slot is ignored.
    void SetChannelName(int slot, const std::string& name);
    // Coefficient table entry (row 0..49, column 0..2) in the live area; 0 outside the table.
    std::uint16_t Coefficient(int row, int column) const;
    void SetCoefficient(int row, int column, std::uint16_t value);

    static std::uint32_t ReadLe32(const std::uint8_t* bytes);
    static void WriteLe32(std::uint8_t* bytes, std::uint32_t value);
};
