#include "window/Upload.h"

#include <algorithm>
#include <cmath>

#include "settings/Options.h"

namespace Upload {
namespace {

double Whole(double value) {
    return std::isfinite(value) ? std::trunc(value) : value;
}

std::uint8_t Reversed(std::uint32_t byte) {
    std::uint8_t out = 0;
    for (int bit = 0; bit < 8; ++bit)
        if ((byte >> bit) & 1u) out = static_cast<std::uint8_t>(out | (0x80u >> bit));
    return out;
}

}  // namespace

StripLayout LayoutFromOptions(const Coptions& options) {
    StripLayout layout;
    layout.Items = options.GetFloat("LANG.ITEMS");
    layout.X = options.GetFloat("LANG.X");
    layout.Y = options.GetFloat("LANG.Y");
    layout.OffsetX = options.GetFloat("LANG.OFFSET_X");
    layout.OffsetY = options.GetFloat("LANG.OFFSET_Y");
    return layout;
}

int ItemCount(double items) {
    if (!(items > 0)) return 0;  // also not a number
    const int n = static_cast<int>(std::min(std::trunc(items), double{kMaxItems}));
    return std::min(n + n % 2, kMaxItems);
}

bool Lit(const QImage& picture, double x, double y) {
    // Comparisons in double also turn away infinities and values far beyond an int.
    if (!(x >= 0 && y >= 0 && x < picture.width() && y < picture.height())) return false;
    const QRgb pixel = picture.pixel(static_cast<int>(x), static_cast<int>(y));
    return qRed(pixel) == 255 && qGreen(pixel) == 255 && qBlue(pixel) == 255;
}

void PackItem(const QImage& picture, const StripLayout& layout, int item, TextBlock& block) {
    const double x0 = Whole(layout.X) + Whole(layout.OffsetX) * item;
    const double y0 = Whole(layout.Y) + Whole(layout.OffsetY) * item;
    const std::size_t h = item % 2 == 0 ? 0 : kHalfSize;
    int width = 0;
    for (int k = 0; k < kStripWidth; ++k) {
        // Bit r is row r of the column.
        std::uint32_t b = 0;
        for (int r = kStripHeight - 1; r >= 0; --r)
            b = (b << 1) | (Lit(picture, x0 + k, y0 + r) ? 1u : 0u);
        if (b != 0) width = k + 1;
        block[h + 2 + static_cast<std::size_t>(k)] = Reversed(b & 0xFFu);
        block[h + 129 + static_cast<std::size_t>(k)] = Reversed((b >> 8) & 0xFFu);
    }
    block[h] = static_cast<std::uint8_t>(width);
    block[h + 1] = 0;
}

std::vector<TextBlock> PackBlocks(const QImage& picture, const StripLayout& layout) {
    const int n = ItemCount(layout.Items);
    std::vector<TextBlock> blocks(static_cast<std::size_t>(n / 2), TextBlock{});
    for (int i = 0; i < n; ++i)
        PackItem(picture, layout, i, blocks[static_cast<std::size_t>(i / 2)]);
    return blocks;
}

int WriteBlocks(const std::vector<TextBlock>& blocks,
                const std::function<bool(int page, const TextBlock&)>& write,
                const Progress& progress) {
    int written = 0;
    for (const TextBlock& block : blocks) {
        if (progress) progress(2 * written);
        if (!write(kFirstPage + written, block)) break;
        ++written;
    }
    return written;
}

}  // namespace Upload
