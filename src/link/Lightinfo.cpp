#include "link/Lightinfo.h"

#include <algorithm>
#include <cstring>

namespace {

template <std::size_t N>
bool ValidPiece(int offset) {
    return offset >= 0 && offset % CLightInfo::kPieceSize == 0 &&
           static_cast<std::size_t>(offset) + CLightInfo::kPieceSize <= N;
}

template <std::size_t N>
bool PieceDiffers(const std::array<std::uint8_t, N>& a, const std::array<std::uint8_t, N>& b,
                  int offset) {
    if (!ValidPiece<N>(offset)) return false;
    return !std::equal(a.begin() + offset, a.begin() + offset + CLightInfo::kPieceSize,
                       b.begin() + offset);
}

template <std::size_t N>
CLightInfo::Piece PieceOf(const std::array<std::uint8_t, N>& image, int offset) {
    CLightInfo::Piece piece{};
    if (ValidPiece<N>(offset))
        std::copy_n(image.begin() + offset, CLightInfo::kPieceSize, piece.begin());
    return piece;
}

bool IsBlankOrControl(unsigned char c) {
    return c <= 0x20 || c == 0x7F;
}

}  // namespace

std::uint32_t CLightInfo::ReadLe32(const std::uint8_t* b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void CLightInfo::WriteLe32(std::uint8_t* b, std::uint32_t value) {
    b[0] = static_cast<std::uint8_t>(value);
    b[1] = static_cast<std::uint8_t>(value >> 8);
    b[2] = static_cast<std::uint8_t>(value >> 16);
    b[3] = static_cast<std::uint8_t>(value >> 24);
}

std::uint32_t CLightInfo::InfoChecksum(const BlockImage& block) {
    std::uint32_t sum = 0;
    for (int i = kMagicOffset; i < kBlockSize; ++i) sum = ((sum << 3) | (sum >> 29)) + block[i];
    return sum;
}

void CLightInfo::Reset() {
    LampBlock.fill(0);
    LampArea.fill(0);
}

bool CLightInfo::LoadBlockPiece(int offset, const Piece& bytes) {
    if (!ValidPiece<kBlockSize>(offset)) return false;
    std::copy(bytes.begin(), bytes.end(), LampBlock.begin() + offset);
    return true;
}

bool CLightInfo::LoadAreaPiece(int offset, const Piece& bytes) {
    if (!ValidPiece<kAreaSize>(offset)) return false;
    std::copy(bytes.begin(), bytes.end(), LampArea.begin() + offset);
    return true;
}

bool CLightInfo::Accept() {
    Block = LampBlock;
    SetStoredChannelCount(kProgramChannelCount);
    // The staged copy keeps the lamp's own count, so the next save sends the program's.
    StagedBlock = LampBlock;
    const bool valid = HasMagic();
    Area = LampArea;
    StagedArea = LampArea;
    return valid;
}

void CLightInfo::PrepareWrite() {
    WriteLe32(&Block[kMagicOffset], InfoMagic);
    StagedBlock = Block;
    WriteLe32(&Block[kChecksumOffset], InfoChecksum(StagedBlock));
    StagedBlock = Block;
    StagedArea = Area;
}

bool CLightInfo::BlockPieceChanged(int offset) const {
    return PieceDiffers(StagedBlock, LampBlock, offset);
}

bool CLightInfo::AreaPieceChanged(int offset) const {
    return PieceDiffers(StagedArea, LampArea, offset);
}

CLightInfo::Piece CLightInfo::StagedBlockPiece(int offset) const {
    return PieceOf(StagedBlock, offset);
}

CLightInfo::Piece CLightInfo::StagedAreaPiece(int offset) const {
    return PieceOf(StagedArea, offset);
}

void CLightInfo::CommitWrite() {
    LampBlock = StagedBlock;
    LampArea = StagedArea;
}

void CLightInfo::CopyBlockTo(CLightInfo& other) const {
    if (&other != this) other.Block = Block;
}

bool CLightInfo::HasMagic() const {
    return ReadLe32(&Block[kMagicOffset]) == InfoMagic;
}

std::uint32_t CLightInfo::StoredChannelCount() const {
    return ReadLe32(&Block[kStoredChannelCountOffset]);
}

void CLightInfo::SetStoredChannelCount(std::uint32_t count) {
    WriteLe32(&Block[kStoredChannelCountOffset], count);
}

std::string CLightInfo::DeviceName() const {
    const auto* begin = &Block[kDeviceNameOffset];
    const auto* end = std::find(begin, begin + kDeviceNameSize, 0);
    return std::string(begin, end);
}

void CLightInfo::SetDeviceName(const std::string& name) {
    auto* field = &Block[kDeviceNameOffset];
    std::fill_n(field, kDeviceNameSize, 0);
    const auto n = std::min<std::size_t>(name.size(), kDeviceNameSize - 1);
    std::memcpy(field, name.data(), n);
}

std::uint32_t CLightInfo::InfoWord() const {
    return ReadLe32(&Block[kInfoWordOffset]);
}

std::uint32_t CLightInfo::LastChannel() const {
    return ReadLe32(&Block[kLastChannelOffset]);
}

void CLightInfo::SetLastChannel(std::uint32_t channel) {
    WriteLe32(&Block[kLastChannelOffset], channel);
}

std::string CLightInfo::ChannelNameBytes(int slot) const {
    if (slot < 0 || slot >= kChannelNameCount) return {};
    const auto* begin = &Block[kChannelNamesOffset + slot * kChannelNameSize];
    return std::string(begin, begin + kChannelNameSize);
}

std::string CLightInfo::ChannelName(int slot) const {
    const std::string raw = ChannelNameBytes(slot);
    if (raw.empty()) return {};
    const auto first = static_cast<unsigned char>(raw[0]);
    if (first == 0 || first == 0xFF) return {};
    std::string text = raw.substr(0, raw.find('\0'));
    std::size_t b = 0;
    while (b < text.size() && IsBlankOrControl(static_cast<unsigned char>(text[b]))) ++b;
    std::size_t e = text.size();
    while (e > b && IsBlankOrControl(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

void CLightInfo::SetChannelName(int slot, const std::string& name) {
    if (slot < 0 || slot >= kChannelNameCount) return;
    auto* field = &Block[kChannelNamesOffset + slot * kChannelNameSize];
    std::fill_n(field, kChannelNameSize, ' ');
    const std::size_t cut = std::min<std::size_t>(name.size(), kChannelNameSize);
    const std::size_t nul = name.find('\0');
    const std::size_t n = std::min(cut, nul == std::string::npos ? cut : nul);
    std::memcpy(field, name.data(), n);
}

std::uint16_t CLightInfo::Coefficient(int row, int column) const {
    if (row < 0 || row >= kCoefficientRows || column < 0 || column > 2) return 0;
    const int at = kCoefficientOffset + (row * 3 + column) * 2;
    return static_cast<std::uint16_t>(Area[at] | Area[at + 1] << 8);
}

void CLightInfo::SetCoefficient(int row, int column, std::uint16_t value) {
    if (row < 0 || row >= kCoefficientRows || column < 0 || column > 2) return;
    const int at = kCoefficientOffset + (row * 3 + column) * 2;
    Area[at] = static_cast<std::uint8_t>(value);
    Area[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
