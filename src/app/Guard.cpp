#include "app/Guard.h"

#include <QDir>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

COneCopyGuard::COneCopyGuard(const QString& folder) {
    QString dir = folder;
    QString name = QStringLiteral("KELT.lock");
    if (dir.isEmpty()) dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        // The temporary folder is shared between users; each user gets a guard of their own.
        dir = QDir::tempPath();
#ifdef Q_OS_UNIX
        name = QStringLiteral("KELT-%1.lock").arg(getuid());
#endif
    }
    fileName_ = QDir(dir).filePath(name);
}

bool COneCopyGuard::Acquire() {
    if (lock_ && lock_->isLocked()) return true;
    lock_ = std::make_unique<QLockFile>(fileName_);
    // Only a dead owner makes a lock stale, never its age: a copy may run for weeks.
    lock_->setStaleLockTime(0);
    return lock_->tryLock(0);
}
