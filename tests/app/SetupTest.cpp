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

// A SIMULATE that is no number does not quietly mean the real USB path: it runs one simulated
// lamp, and the window and the log hear why.
TEST(OptionNotes, AWordForSimulateRunsTheDemoAndIsNamed) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("options.xml")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<OPTIONS><SIMULATE>yes</SIMULATE><SPEED>abc</SPEED><LOG>1</LOG></OPTIONS>\n");
    file.close();
    QStringList logged;
    static QStringList* sink = nullptr;
    sink = &logged;
    const QtMessageHandler before = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& text) {
            if (QString::fromLatin1(context.category) == "veltra.app") *sink << text;
        });
    const CSetup setup({dir.path(), dir.filePath(QStringLiteral("log.txt"))});
    qInstallMessageHandler(before);
    ASSERT_TRUE(setup.Loaded());
    const FormSetup form = setup.Form();
    EXPECT_TRUE(form.simulated);
    const QStringList notes = {
        QStringLiteral("SIMULATE \"yes\" not understood: one simulated lamp used"),
        QStringLiteral("SPEED \"abc\" not understood: 38400 used")};
    EXPECT_EQ(form.optionNotes, notes);
    ASSERT_EQ(logged.size(), 2) << logged.join('\n').toStdString();
    EXPECT_TRUE(logged[0].endsWith(notes[0])) << logged[0].toStdString();
    EXPECT_TRUE(logged[1].endsWith(notes[1])) << logged[1].toStdString();
}
