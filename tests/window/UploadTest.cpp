#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <limits>

#include "window/Upload.h"

namespace {

using Upload::StripLayout;
using Upload::TextBlock;

QImage Black(int width, int height) {
    QImage picture(width, height, QImage::Format_ARGB32);
    picture.fill(qRgb(0, 0, 0));
    return picture;
}

TextBlock PackOne(const QImage& picture, int item, StripLayout layout = {}) {
    TextBlock block{};
    Upload::PackItem(picture, layout, item, block);
    return block;
}

TEST(UploadTest, ColumnBitsAndWidth) {
    struct Case {
        const char* name;
        int x, y;  // the one lit pixel in the strip
        int item;
        std::size_t byte;
        std::uint8_t value;
        int width;
    };
    const Case cases[] = {
        {"row 0 of column 0", 0, 0, 0, 2, 0x80, 1},
        {"row 7 of column 0", 0, 7, 0, 2, 0x01, 1},
        {"row 8 of column 0", 0, 8, 0, 129, 0x80, 1},
        {"row 15 of column 0", 0, 15, 0, 129, 0x01, 1},
        {"row 0 of column 126", 126, 0, 0, 2 + 126, 0x80, 127},
        {"odd item in the second half", 0, 15, 1, 256 + 129, 0x01, 1},
    };
    for (const Case& c : cases) {
        QImage picture = Black(200, 40);
        picture.setPixel(c.x, c.y, qRgb(255, 255, 255));
        const TextBlock block = PackOne(picture, c.item);
        const std::size_t h = c.item % 2 == 0 ? 0 : 256;
        EXPECT_EQ(block[c.byte], c.value) << c.name;
        EXPECT_EQ(block[h], c.width) << c.name;
        int set = 0;
        for (std::size_t i = h + 2; i < h + 256; ++i) set += block[i] != 0;
        EXPECT_EQ(set, 1) << c.name;
    }
}

TEST(UploadTest, RowSixteenCountsOnlyTowardsTheWidth) {
    QImage picture = Black(200, 40);
    picture.setPixel(9, 16, qRgb(255, 255, 255));
    const TextBlock block = PackOne(picture, 0);
    EXPECT_EQ(block[0], 10);
    for (std::size_t i = 1; i < 256; ++i) EXPECT_EQ(block[i], 0) << i;
}

TEST(UploadTest, OnlyExactWhiteIsLitWhateverItsAlpha) {
    const struct {
        QRgb colour;
        bool lit;
    } cases[] = {{qRgba(255, 255, 255, 255), true}, {qRgba(255, 255, 255, 0), true},
                 {qRgba(255, 255, 255, 17), true},  {qRgb(254, 255, 255), false},
                 {qRgb(255, 254, 255), false},      {qRgb(255, 255, 254), false},
                 {qRgb(211, 211, 211), false}};
    for (const auto& c : cases) {
        QImage picture = Black(4, 4);
        picture.setPixel(1, 1, c.colour);
        EXPECT_EQ(Upload::Lit(picture, 1, 1), c.lit) << std::hex << c.colour;
    }
}

TEST(UploadTest, ItemsAtTheirOffsetsAndOutsideThePictureDark) {
    QImage picture(300, 100, QImage::Format_RGB32);
    picture.fill(Qt::white);
    StripLayout layout;
    layout.X = 10.9;  // truncated: 10
    layout.Y = 5;
    layout.OffsetX = 100;
    layout.OffsetY = 30;
    // Item 0 at (10, 5) lies wholly inside: every column full.
    TextBlock block = PackOne(picture, 0, layout);
    EXPECT_EQ(block[0], 127);
    EXPECT_EQ(block[2], 0xFF);
    EXPECT_EQ(block[129 + 126], 0xFF);
    // Item 2 at (210, 65): columns up to 89 and rows up to 34 of the picture are inside.
    block = PackOne(picture, 2, layout);
    EXPECT_EQ(block[0], 90);
    EXPECT_EQ(block[2 + 89], 0xFF);
    EXPECT_EQ(block[2 + 90], 0);
    EXPECT_EQ(block[129 + 89], 0xFF);
    // Item 3 at (310, 95) lies right of the picture.
    block = PackOne(picture, 3, layout);
    for (std::size_t i = 256; i < 512; ++i) EXPECT_EQ(block[i], 0) << i;
}

TEST(UploadTest, WildLayoutsGiveDarkStripsNotCrashes) {
    QImage picture(64, 64, QImage::Format_RGB32);
    picture.fill(Qt::white);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double values[] = {-1e300, -5, 1e300, inf, -inf, nan, 2147483647.0, -2147483648.0};
    for (double v : values) {
        for (int field = 0; field < 4; ++field) {
            StripLayout layout;
            layout.Items = 80;
            double* target[] = {&layout.X, &layout.Y, &layout.OffsetX, &layout.OffsetY};
            *target[field] = v;
            const auto blocks = Upload::PackBlocks(picture, layout);
            ASSERT_EQ(blocks.size(), 40u);
            // Only item 0 is read at the plain corner when just an offset is wild.
            if (field >= 2 && std::isfinite(v) && v != 0) {
                EXPECT_EQ(blocks[0][0], 64);
            }
        }
    }
    // A corner far left of the picture: dark.
    StripLayout left;
    left.Items = 2;
    left.X = -1e300;
    EXPECT_EQ(Upload::PackBlocks(picture, left)[0][0], 0);
}

TEST(UploadTest, ItemCountIsEvenAndAtMostEighty) {
    const struct {
        double items;
        int count;
    } cases[] = {{5, 6},
                 {6, 6},
                 {200, 80},
                 {79, 80},
                 {80, 80},
                 {0, 0},
                 {-3, 0},
                 {1.9, 2},
                 {std::numeric_limits<double>::quiet_NaN(), 0},
                 {1e300, 80},
                 {std::numeric_limits<double>::infinity(), 80}};
    for (const auto& c : cases) EXPECT_EQ(Upload::ItemCount(c.items), c.count) << c.items;

    StripLayout layout;
    layout.Items = 5;
    EXPECT_EQ(Upload::PackBlocks(Black(10, 10), layout).size(), 3u);
    layout.Items = 200;
    EXPECT_EQ(Upload::PackBlocks(Black(10, 10), layout).size(), 40u);
}

TEST(UploadTest, WritingStopsAtTheFirstFailureAndCountsWhatArrived) {
    const std::vector<TextBlock> blocks(5, TextBlock{});
    std::vector<int> pages;
    std::vector<int> progress;
    const int written = Upload::WriteBlocks(
        blocks,
        [&](int page, const TextBlock&) {
            pages.push_back(page);
            return page != 423;
        },
        [&](int item) { progress.push_back(item); });
    EXPECT_EQ(written, 3);
    EXPECT_EQ(pages, (std::vector<int>{420, 421, 422, 423}));
    EXPECT_EQ(progress, (std::vector<int>{0, 2, 4, 6}));
}

}  // namespace
