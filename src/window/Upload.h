#pragma once
#include <QImage>
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

class Coptions;

// Display texts: strips 127 x 17 pixels cut from a picture, two to a 512-byte block, written to
// the lamp's memory pages from 420 up.
namespace Upload {

constexpr int kStripWidth = 127;
constexpr int kStripHeight = 17;  // the last row only counts towards the width
constexpr int kMaxItems = 80;
constexpr int kBlockSize = 512;
constexpr int kHalfSize = 256;

using TextBlock = std::array<std::uint8_t, kBlockSize>;

// Where the strips lie, as the options LANG.* give it; each value truncated toward zero.
struct StripLayout {
    double Items = 0;
    double X = 0;
    double Y = 0;
    double OffsetX = 0;
    double OffsetY = 0;
};
StripLayout LayoutFromOptions(const Coptions& options);

// Items uploaded: the item count made even and held to 0..80; not a number gives 0.
int ItemCount(double items);

// Lit when exactly white, alpha ignored; anything outside the picture (or at a position no
// integer holds) is dark.
bool Lit(const QImage& picture, double x, double y);

// Packs item `item` into its half of the block (even items the first, odd the second).
void PackItem(const QImage& picture, const StripLayout& layout, int item, TextBlock& block);

// Every block to upload, in page order.
std::vector<TextBlock> PackBlocks(const QImage& picture, const StripLayout& layout);

// Called before each item with its index.
using Progress = std::function<void(int item)>;
// Writes the blocks through `write` (page, block) -> true when the lamp took it, stopping at
// the first failure; returns how many blocks reached the lamp.
int WriteBlocks(const std::vector<TextBlock>& blocks,
                const std::function<bool(int page, const TextBlock&)>& write,
                const Progress& progress = {});

constexpr int kFirstPage = 420;

}  // namespace Upload
