#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/Paths.h"
#include "settings/Options.h"

namespace {

const QByteArray kShipped = "<OPTIONS>\n\t<SIMULATE>0</SIMULATE>\n</OPTIONS>\n";

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A scratch machine: a program folder (prefix/bin), its shared files (prefix/share/...) and a
// home with the user's data folder not yet made.
struct Machine {
    QTemporaryDir root;
    QString Bin() const { return root.filePath(QStringLiteral("usr/bin")); }
    QString Shared() const { return root.filePath(QStringLiteral("usr/share/veltra-lamp")); }
    QString User() const { return root.filePath(QStringLiteral("home/.local/share/veltra-lamp")); }

    // The installed layout: nothing next to the program, the default among the shared files.
    void Install() {
        QDir().mkpath(Bin());
        Write(Shared() + QStringLiteral("/options.xml"), kShipped);
        QFile::setPermissions(
            Shared() + QStringLiteral("/options.xml"),
            QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
};

}  // namespace

TEST(ProgramFolders, BuildFolderKeepsEverythingNextToTheProgram) {
    Machine m;
    Write(m.Bin() + QStringLiteral("/data/options.xml"), "<OPTIONS/>");
    const ProgramFolders paths = ChoosePaths(m.Bin(), m.User());
    EXPECT_EQ(paths.dataFolder, QDir(m.Bin()).filePath(QStringLiteral("data")));
    EXPECT_EQ(paths.logFile, QDir(m.Bin()).filePath(QStringLiteral("log.txt")));
    EXPECT_FALSE(QFileInfo::exists(m.User())) << "nothing is made in the user's folder";
}

TEST(ProgramFolders, InstalledProgramSeedsTheUsersFolderOnceAndKeepsTheirFiles) {
    Machine m;
    m.Install();
    const ProgramFolders first = ChoosePaths(m.Bin(), m.User());
    ASSERT_EQ(first.dataFolder, m.User());
    EXPECT_EQ(first.logFile, QDir(m.User()).filePath(QStringLiteral("log.txt")));
    const QString options = QDir(m.User()).filePath(QStringLiteral("options.xml"));
    EXPECT_EQ(Read(options), kShipped);
    // The default is read-only; the user's copy is theirs to edit.
    EXPECT_TRUE(QFile::permissions(options) & QFileDevice::WriteOwner);
    EXPECT_TRUE(Coptions(QDir(first.dataFolder).path().toStdString()).Loaded());
    EXPECT_FALSE(QFileInfo::exists(m.Bin() + QStringLiteral("/data")));

    // The user's edit and their presets survive the next start; the default is not copied again.
    Write(options, "<OPTIONS><SIMULATE>1</SIMULATE></OPTIONS>");
    Write(QDir(m.User()).filePath(QStringLiteral("values.xml")), "<VALUES/>");
    const ProgramFolders second = ChoosePaths(m.Bin(), m.User());
    EXPECT_EQ(second.dataFolder, first.dataFolder);
    EXPECT_EQ(Read(options), "<OPTIONS><SIMULATE>1</SIMULATE></OPTIONS>");
    EXPECT_EQ(Read(QDir(m.User()).filePath(QStringLiteral("values.xml"))), "<VALUES/>");
}

TEST(ProgramFolders, ReadOnlyProgramFolderUsesTheUsersFolderSeededFromItsOwnOptions) {
    // A program folder that is not the user's to write, with its options in data/ as a build
    // has them: the user's folder takes them as its default.
    Machine m;
    Write(m.Bin() + QStringLiteral("/data/options.xml"), kShipped);
    const auto open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                          QFileDevice::ExeOther;
    for (const QString& folder : {m.root.path(), m.root.filePath(QStringLiteral("usr"))})
        QFile::setPermissions(folder, open);
    QDir().mkpath(m.root.filePath(QStringLiteral("home")));
    QFile::setPermissions(m.root.filePath(QStringLiteral("home")), open);
    QFile::setPermissions(m.Bin() + QStringLiteral("/data"), readOnly);
    QFile::setPermissions(m.Bin(), readOnly);
    const auto check = [&m] {
        const ProgramFolders paths = ChoosePaths(m.Bin(), m.User());
        return paths.dataFolder == m.User() &&
               Read(QDir(m.User()).filePath(QStringLiteral("options.xml"))) == kShipped;
    };
    if (geteuid() != 0) {
        EXPECT_TRUE(check());
    } else {
        // Permissions do not bind root, so an ordinary user (nobody) makes the start.
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
            _exit(dropped && check() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    QFile::setPermissions(m.Bin(), open);
    QFile::setPermissions(m.Bin() + QStringLiteral("/data"), open);
}

TEST(ProgramFolders, ProgramsOwnDataFolderWinsOverTheSharedDefault) {
    Machine m;
    m.Install();
    Write(m.Bin() + QStringLiteral("/data/options.xml"), "<OPTIONS/>");
    EXPECT_EQ(ShippedOptions(m.Bin()),
              QDir::cleanPath(m.Bin() + QStringLiteral("/data/options.xml")));
    QFile::remove(m.Bin() + QStringLiteral("/data/options.xml"));
    EXPECT_EQ(ShippedOptions(m.Bin()),
              QDir::cleanPath(m.Shared() + QStringLiteral("/options.xml")));
}

TEST(ProgramFolders, WithoutAnyDefaultNoOptionsAppearSoTheProgramReportsThem) {
    Machine m;
    QDir().mkpath(m.Bin());
    const ProgramFolders paths = ChoosePaths(m.Bin(), m.User());
    EXPECT_EQ(paths.dataFolder, m.User());
    EXPECT_TRUE(QFileInfo(m.User()).isDir());
    EXPECT_FALSE(QFileInfo::exists(QDir(m.User()).filePath(QStringLiteral("options.xml"))));
    EXPECT_FALSE(Coptions(paths.dataFolder.toStdString()).Loaded());
}
