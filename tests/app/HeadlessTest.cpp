#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "app/Guard.h"

namespace {

// The built program copied into a folder of its own, started headless (it saves a screenshot
// and closes) from an empty home, with no display and no session bus.
class Headless : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        for (const char* folder : {"program/data", "home", "run"})
            ASSERT_TRUE(QDir().mkpath(root_.filePath(folder)));
        QFile::setPermissions(root_.filePath("run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_TRUE(QFile::copy(QStringLiteral(VELTRA_PROGRAM), Program()));
    }

    QString Program() const { return root_.filePath("program/veltra-lamp"); }
    QString Options() const { return root_.filePath("program/data/options.xml"); }

    void WriteOptions(const QByteArray& text) {
        QFile file(Options());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    struct Ran {
        int exit = -1;
        QString err;
    };

    Ran Start() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CONFIG_HOME", "XDG_DATA_HOME",
                                 "XDG_CACHE_HOME", "XDG_STATE_HOME", "DBUS_SESSION_BUS_ADDRESS"})
            env.remove(QString::fromLatin1(name));
        env.insert("HOME", root_.filePath("home"));
        env.insert("XDG_RUNTIME_DIR", root_.filePath("run"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VELTRA_SCREENSHOT", root_.filePath("shot.png"));
        env.insert("VELTRA_SCREENSHOT_DELAY_MS", "0");
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(Program(), {});
        EXPECT_TRUE(program.waitForStarted());
        // A notice waiting for a press would keep it running: that is the fault looked for.
        const bool ended = program.waitForFinished(60000);
        EXPECT_TRUE(ended) << "the program did not end by itself";
        if (!ended) program.kill();
        program.waitForFinished();
        return {program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1,
                QString::fromLocal8Bit(program.readAllStandardError())};
    }

    // Every file and folder below the home folder.
    QStringList InHome() const {
        QStringList found;
        QDirIterator it(root_.filePath("home"),
                        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) found << it.next();
        return found;
    }

    QTemporaryDir root_;
};

// Nothing lands in the user's folders (a file dialog's history, say) before the user asks for
// something that needs it; the program's own folder holds its files.
TEST_F(Headless, AFirstStartWritesNothingOutsideTheProgramsFolder) {
    WriteOptions("<OPTIONS><SIMULATE>1</SIMULATE></OPTIONS>");
    const Ran ran = Start();
    ASSERT_EQ(ran.exit, 0) << ran.err.toStdString();
    EXPECT_TRUE(QFile::exists(root_.filePath("shot.png")));
    EXPECT_EQ(InHome().join('\n').toStdString(), "");
}

// Without anybody to press OK, the notices are printed and the run fails.
TEST_F(Headless, NoticesArePrintedAndTheRunFails) {
    {
        COneCopyGuard running(root_.filePath("run"));
        ASSERT_TRUE(running.Acquire());
        WriteOptions("<OPTIONS><SIMULATE>1</SIMULATE></OPTIONS>");
        const Ran busy = Start();
        EXPECT_NE(busy.exit, 0);
        EXPECT_TRUE(busy.err.startsWith("Lamp is currently busy.\n")) << busy.err.toStdString();
    }
    const struct {
        const char* what;
        QByteArray options;  // empty: no options.xml
        const char* notice;
    } cases[] = {
        {"missing", {}, "File 'options.xml' not found."},
        {"damaged", "LOG=1\n", "File 'options.xml' is damaged: it holds no OPTIONS settings."},
    };
    for (const auto& c : cases) {
        QFile::remove(Options());
        if (!c.options.isEmpty()) WriteOptions(c.options);
        const Ran ran = Start();
        EXPECT_NE(ran.exit, 0) << c.what;
        EXPECT_TRUE(ran.err.startsWith(QString::fromLatin1(c.notice) + '\n' + Options() + '\n'))
            << c.what << ": " << ran.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(root_.filePath("shot.png")));
}

}  // namespace
