#include "app/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "settings/Options.h"

#ifndef VELTRA_SHARED_DATA
#define VELTRA_SHARED_DATA "../share/veltra-lamp"
#endif

namespace {

const QString kOptions = QString::fromLatin1(Coptions::kFileName);

bool WritableFolder(const QString& path) {
    const QFileInfo info(path);
    return info.isDir() && info.isWritable();
}

// Copies through a temporary file, so that a full disk never leaves a half options file that
// every later start would find and keep. The copy is the user's to edit (SIMULATE, LOG).
bool SeedOptions(const QString& from, const QString& to) {
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly)) return false;
    const QByteArray text = source.readAll();
    if (source.error() != QFileDevice::NoError) return false;
    QSaveFile target(to);
    if (!target.open(QIODevice::WriteOnly)) return false;
    if (target.write(text) != text.size()) {
        target.cancelWriting();
        return false;
    }
    if (!target.commit()) return false;
    QFile::setPermissions(
        to, QFile::permissions(to) | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

}  // namespace

QString ShippedOptions(const QString& programFolder) {
    const QDir program(programFolder);
    for (const QString& folder : {QStringLiteral("data"), QStringLiteral(VELTRA_SHARED_DATA)}) {
        const QString path = QDir(program.filePath(folder)).filePath(kOptions);
        if (QFileInfo(path).isFile()) return QDir::cleanPath(path);
    }
    return QString();
}

ProgramFolders ChoosePaths(const QString& programFolder, const QString& userFolder) {
    const QDir program(programFolder);
    const QString ownData = program.filePath(QStringLiteral("data"));
    ProgramFolders paths;
    if (WritableFolder(ownData) && WritableFolder(programFolder)) {
        paths.dataFolder = ownData;
        paths.logFile = program.filePath(QStringLiteral("log.txt"));
        return paths;
    }
    paths.dataFolder = userFolder;
    paths.logFile = QDir(userFolder).filePath(QStringLiteral("log.txt"));
    QDir().mkpath(userFolder);
    const QString options = QDir(userFolder).filePath(kOptions);
    if (!QFileInfo::exists(options)) {
        // Without a default the window reports the missing options file, as it would anywhere.
        const QString shipped = ShippedOptions(programFolder);
        if (!shipped.isEmpty()) SeedOptions(shipped, options);
    }
    return paths;
}
