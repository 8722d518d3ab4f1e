#include <gtest/gtest.h>

#include <QImage>

#include "app/Icon.h"

// Every size is built into the program and is the size it claims, so no window manager scales
// a wrong picture, and none is blank.
TEST(ProgramIcon, EverySizeIsBuiltInAsDrawn) {
    const QIcon icon = ProgramIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QImage image(QStringLiteral(":/icons/veltra-lamp-%1.png").arg(size));
        ASSERT_EQ(image.size(), QSize(size, size)) << size;
        EXPECT_GT(qAlpha(image.pixel(size / 2, size / 2)), 0) << size;
    }
}
