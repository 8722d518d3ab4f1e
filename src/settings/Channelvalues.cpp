#include "settings/Channelvalues.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "settings/Xml.h"

namespace {

// Copies from to a new file to, never replacing one: 0, EEXIST when to exists, or another
// errno value. For folders whose file system has no hard links.
int CopyToNewFile(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0) return errno;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = errno;
        if (n <= 0) break;
        for (ssize_t done = 0; done < n && error == 0;) {
            const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) error = w < 0 ? errno : EIO;
            if (w > 0) done += w;
        }
        if (error != 0) break;
    }
    if (error == 0 && ::fsync(out) != 0) error = errno;
    if (::close(out) != 0 && error == 0) error = errno;
    ::close(in);
    if (error != 0) ::unlink(to.c_str());
    return error;
}

}  // namespace

CchannelValues::CchannelValues(const std::string& dataFolder, CCurrentChannelAccess& controller)
    : filePath_(dataFolder), controller_(controller) {
    if (!filePath_.empty() && filePath_.back() != '/') filePath_ += '/';
    filePath_ += kFileName;
    Load();
}

int CchannelValues::Load() {
    list_.clear();
    backupPending_ = false;
    backupNotice_ = kBackupNotice;
    CXML document;
    const int result = document.LoadFromFile(filePath_);
    // Whatever was not read would be gone after the next save, so an existing, non-empty file
    // read only in part (or under another root) is kept first.
    struct stat file {};
    const bool fileThere =
        ::stat(filePath_.c_str(), &file) == 0 && S_ISREG(file.st_mode) && file.st_size > 0;
    if ((result != CXML::kOk || document.Name != "VALUES") && fileThere) backupPending_ = true;
    if (document.Name != "VALUES") return result;
    // Reading each entry through its own node keeps a long file linear; an indexed path
    // would walk the entries before it every time.
    bool namesCut = false;
    for (const auto& entry : document.Children) {
        if (entry->Name != "VALUE") continue;
        CChannel record;
        record.ReadFrom(*entry, "value.");
        const CXML* name = entry->FindNode("value.name");
        namesCut = namesCut || (name != nullptr && name->TextCut);
        list_.push_back(std::move(record));
    }
    // A name saved as read would no longer be the one written: the file is kept first, too.
    if (namesCut && !backupPending_ && fileThere) {
        backupPending_ = true;
        backupNotice_ = kNamesBackupNotice;
    }
    return result;
}

int CchannelValues::Save() {
    if (backupPending_) {
        const int kept = KeepBackup();
        if (kept != CXML::kOk) return kept;
        backupPending_ = false;
    }
    // Each entry is written into its own node: an indexed path from the root would walk all
    // the entries before it, which makes a long list quadratic.
    CXML document;
    document.Name = "VALUES";
    document.Children.reserve(list_.size());
    for (const CChannel& record : list_) {
        auto entry = std::make_unique<CXML>();
        record.WriteTo(*entry, "value.");
        document.Children.push_back(std::move(entry));
    }
    return document.SaveToFile(filePath_);
}

int CchannelValues::KeepBackup() {
    for (int n = 1; n <= kMaxBackups; ++n) {
        std::string path = filePath_ + kBackupSuffix;
        if (n > 1) path += std::to_string(n);
        // A second name for the file keeps its bytes when the save renames a new file over it;
        // for a linked values.xml that is the link's target, which the save replaces.
        int error =
            ::linkat(AT_FDCWD, filePath_.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0
                ? 0
                : errno;
        if (error == ENOENT) return CXML::kOk;  // the file went away: nothing left to keep
        if (error != 0 && error != EEXIST) error = CopyToNewFile(filePath_, path);
        if (error == EEXIST) continue;  // an older backup is never replaced
        if (error != 0) return CXML::kCannotOpen;
        backupPath_ = path;
        backupNoticeDue_ = true;
        return CXML::kOk;
    }
    return CXML::kCannotOpen;
}

std::string CchannelValues::TakeBackupNotice() {
    if (!backupNoticeDue_) return {};
    backupNoticeDue_ = false;
    return backupPath_;
}

std::string CchannelValues::NameList() {
    std::stable_sort(list_.begin(), list_.end(), [](const CChannel& a, const CChannel& b) {
        return std::strcoll(a.Name.c_str(), b.Name.c_str()) < 0;
    });
    std::string names;
    for (const CChannel& record : list_) {
        if (record.Name.empty()) continue;
        if (!names.empty()) names += '\n';
        names += record.Name;
    }
    return names;
}

std::vector<std::string> CchannelValues::SortedNames() const {
    std::vector<std::string> names;
    for (const CChannel& record : list_)
        if (!record.Name.empty()) names.push_back(record.Name);
    std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return std::strcoll(a.c_str(), b.c_str()) < 0;
    });
    return names;
}

std::vector<CChannel>::iterator CchannelValues::FindName(const std::string& name) {
    return std::find_if(list_.begin(), list_.end(),
                        [&](const CChannel& record) { return record.Name == name; });
}

bool CchannelValues::Contains() {
    return FindName(controller_.CurrentRecord().Name) != list_.end();
}

int CchannelValues::StoreCurrent() {
    return Store(controller_.CurrentRecord());
}

int CchannelValues::Store(const CChannel& record) {
    auto found = FindName(record.Name);
    const bool added = found == list_.end();
    if (added) {
        list_.emplace_back();
        found = list_.end() - 1;
    }
    const auto at = found - list_.begin();
    CChannel before;
    before.CopyFrom(*found);
    found->CopyFrom(record);
    const int result = Save();
    if (result != CXML::kOk) {
        // The list keeps what the file holds, so nothing shows as stored that is not.
        if (added) {
            list_.erase(list_.begin() + at);
        } else {
            list_[static_cast<std::size_t>(at)].CopyFrom(before);
        }
    }
    return result;
}

bool CchannelValues::RecallCurrent() {
    const auto found = FindName(controller_.CurrentRecord().Name);
    if (found == list_.end()) {
        controller_.ResetCurrent();
        return false;
    }
    controller_.CopyIntoCurrent(*found);
    controller_.ResendCurrentChannel();
    return true;
}

int CchannelValues::DeleteCurrent() {
    const auto found = FindName(controller_.CurrentRecord().Name);
    if (found == list_.end()) return kNotStored;
    const auto at = found - list_.begin();
    CChannel removed = std::move(*found);
    list_.erase(found);
    const int result = Save();
    if (result != CXML::kOk) list_.insert(list_.begin() + at, std::move(removed));
    return result;
}
