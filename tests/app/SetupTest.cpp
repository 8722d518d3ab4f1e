#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <limits>

#include "app/Setup.h"

TEST(RunBaudRate, SpeedOptionBelow9600OrUnreadableBecomes38400) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double option;
        int baud;
    } cases[] = {{4800, 38400}, {9599, 38400}, {9600, 9600}, {19200.7, 19200}, {115200, 115200},
                 {0, 38400},    {-1, 38400},   {nan, 38400}, {1e12, 38400}};
    for (const auto& c : cases) EXPECT_EQ(RunBaudRate(c.option), c.baud) << c.option;
}

TEST(RunBaudRate, TheWindowIsHandedTheRateTheOptionsAskFor) {
    const struct {
        const char* options;
        int baud;
    } cases[] = {
        {"<OPTIONS><SIMULATE>1</SIMULATE><SPEED>115200</SPEED></OPTIONS>\n", 115200},
        {"<OPTIONS><SIMULATE>1</SIMULATE><SPEED>1200</SPEED></OPTIONS>\n", 38400},
        {"<OPTIONS><SIMULATE>1</SIMULATE></OPTIONS>\n", 38400},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        QFile file(dir.filePath(QStringLiteral("options.xml")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.options);
        file.close();
        const CSetup setup({dir.path(), dir.filePath(QStringLiteral("log.txt"))});
        ASSERT_TRUE(setup.Loaded()) << c.options;
        EXPECT_EQ(setup.Form().runBaud, c.baud) << c.options;
    }
}
