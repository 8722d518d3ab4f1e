#pragma once
#include <QLockFile>
#include <QString>
#include <memory>

// The one-copy guard "KELT": a lock file in the user's runtime folder. The system forgets the
// lock with the process, so a copy that crashed never blocks the next start.
class COneCopyGuard {
  public:
    // folder: where the lock lives; empty means the user's runtime folder (or, lacking one,
    // the temporary folder with the user's id in the name).
    explicit COneCopyGuard(const QString& folder = QString());
    // True when this is the only copy; the lock is then held until the guard is destroyed.
    bool Acquire();
    QString FileName() const { return fileName_; }

  private:
    QString fileName_;
    std::unique_ptr<QLockFile> lock_;
};
