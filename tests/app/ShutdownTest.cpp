#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <string>
#include <vector>

extern char** environ;

namespace {

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The program, copied into a scratch folder so that its data folder and log lie beside it,
// running on one simulated lamp with the protocol log on.
class RunningProgram {
  public:
    // extra: environment entries that replace the test's own of the same name.
    explicit RunningProgram(const QTemporaryDir& dir, std::vector<std::string> extra = {})
        : dir_(dir) {
        QDir().mkpath(dir.filePath("data"));
        QFile options(dir.filePath("data/options.xml"));
        if (options.open(QIODevice::WriteOnly))
            options.write("<OPTIONS><SIMULATE>1</SIMULATE><LOG>1</LOG></OPTIONS>\n");
        options.close();
        const QString program = dir.filePath("veltra-lamp");
        QFile::copy(QStringLiteral(VELTRA_PROGRAM), program);

        // The one-copy guard and the user's folders stay in the scratch folder too.
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                        "XDG_RUNTIME_DIR=" + dir.path().toStdString(),
                                        "HOME=" + dir.path().toStdString()};
        env.insert(env.end(), extra.begin(), extra.end());
        const auto replaced = [&env](const std::string& entry) {
            for (const std::string& own : env)
                if (entry.rfind(own.substr(0, own.find('=') + 1), 0) == 0) return true;
            return false;
        };
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            if (!replaced(entry)) env.push_back(entry);
        }
        std::vector<char*> envp;
        for (std::string& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::string path = program.toStdString();
        char* argv[] = {path.data(), nullptr};
        if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, envp.data()) != 0) pid_ = -1;
    }
    ~RunningProgram() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool Started() const { return pid_ > 0; }
    QByteArray Log() const { return Read(dir_.filePath("log.txt")); }

    // Waits until the log holds text, or the time is up.
    bool WaitForLog(const QByteArray& text, int ms = 30000) const {
        QElapsedTimer clock;
        clock.start();
        while (!Log().contains(text)) {
            if (clock.elapsed() > ms) return false;
            QThread::msleep(20);
        }
        return true;
    }

    void Signal(int number) const { kill(pid_, number); }

    // The exit status as waitpid reports it, or -1 when the program is still running.
    int WaitForExit(int ms = 30000) {
        QElapsedTimer clock;
        clock.start();
        int status = 0;
        while (clock.elapsed() < ms) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                return status;
            }
            QThread::msleep(20);
        }
        return -1;
    }

  private:
    const QTemporaryDir& dir_;
    pid_t pid_ = -1;
    bool exited_ = false;
};

// "Channel 1" as the name write to the lamp's information block carries it.
const QByteArray kFirstName = "43 68 61 6E 6E 65 6C 20 31 20";
// A record of the lamp's command Finish going out, sent once as the lamps are let go.
const QRegularExpression kFinishSent(QStringLiteral("OUT ok [0-9:.]+\\ncmd=04 "));

}  // namespace

TEST(Shutdown, SignalClosesAsTheCloseButtonDoesOnceAndExitsZero) {
    for (const int number : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(number));
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        RunningProgram program(dir);
        ASSERT_TRUE(program.Started());
        // The first status poll shows the lamp connected and the window on its main page.
        ASSERT_TRUE(program.WaitForLog("cmd=23")) << program.Log().toStdString();
        const qsizetype before = program.Log().size();
        EXPECT_FALSE(program.Log().contains(kFirstName));

        // A second request while the first is served does not close twice: it comes once the
        // close is under way, as the names go into the lamp's block.
        program.Signal(number);
        ASSERT_TRUE(program.WaitForLog(kFirstName)) << program.Log().toStdString();
        program.Signal(number);
        const int status = program.WaitForExit();
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 0);

        const QByteArray closing = program.Log().mid(before);
        // The names went into the lamp's block, the lamp was let go once, the guard freed.
        EXPECT_TRUE(closing.contains(kFirstName)) << closing.toStdString();
        EXPECT_EQ(QString::fromLatin1(closing).count(kFinishSent), 1);
        EXPECT_FALSE(QFile::exists(dir.filePath("KELT.lock")));
    }
}

TEST(Shutdown, WithoutASessionBusTheProgramRunsAsBefore) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    RunningProgram program(
        dir, {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir.filePath("no-bus").toStdString()});
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.WaitForLog("cmd=23")) << program.Log().toStdString();
    program.Signal(SIGTERM);
    const int status = program.WaitForExit();
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
