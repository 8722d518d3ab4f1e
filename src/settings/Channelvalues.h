#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "settings/Channel.h"

// What the preset list needs from the lamp controller, which owns the current channel record
// and guards it against its own thread. Records pass by value, never as references into the
// controller's records; the two changes are made by the controller under its own lock, so
// its thread never sees half a record and never loses flags between a read and a write.
class CCurrentChannelAccess {
  public:
    virtual ~CCurrentChannelAccess() = default;
    // A copy of the current record.
    virtual CChannel CurrentRecord() const = 0;
    // CopyFrom(stored) on the current record: name and sixteen values; flags and slot stay.
    virtual void CopyIntoCurrent(const CChannel& stored) = 0;
    // ResetToDefault on the current record.
    virtual void ResetCurrent() = 0;
    // Asks the next controller pass to send the current record to the lamps.
    virtual void ResendCurrentChannel() = 0;
};

// The stored channels (presets) and their file values.xml in the data folder.
class CchannelValues {
  public:
    static constexpr const char* kFileName = "values.xml";
    // DeleteCurrent's result when no stored channel bears the name; nothing is saved then.
    static constexpr int kNotStored = 1;
    // A values.xml that was read only in part is kept under its name plus this suffix (then
    // the suffix and 2, 3, ... when that name is taken) before the first save replaces it.
    static constexpr const char* kBackupSuffix = ".bak";
    static constexpr int kMaxBackups = 99;
    // What the window tells the user, followed by a line break and the backup's path.
    static constexpr const char* kBackupNotice =
        "Some presets in values.xml could not be read. The file as it was is kept as:";
    // The same when every preset was read but some names lost blanks or control characters at
    // their ends, which the file cannot hold there.
    static constexpr const char* kNamesBackupNotice =
        "Some preset names in values.xml began or ended with blanks or control characters, "
        "which the file cannot keep. The file as it was is kept as:";

    // Stores both and loads the file.
    CchannelValues(const std::string& dataFolder, CCurrentChannelAccess& controller);

    // Replaces the list with the file's entries; a missing or broken file gives an empty or
    // partial list. Returns the document's load result, which callers may ignore.
    int Load();
    // Writes the whole list, in list order; the old file stays whole when this fails. After a
    // load that read an existing file only in part, or changed a name the file cannot hold as
    // written, the first save keeps that file as a backup and fails (writing nothing) when it
    // cannot, so nothing it could not read as written is lost.
    int Save();

    // Sorts the list by name and returns the non-empty names joined by LF.
    std::string NameList();
    // The non-empty names in NameList's order, leaving the list's own order alone.
    std::vector<std::string> SortedNames() const;
    // Whether a stored channel bears the current record's name.
    bool Contains();
    // Replaces the stored channel of the current record's name, or appends one; then saves.
    // When the save fails the list is put back as it was, as the file still holds that.
    int StoreCurrent();
    // The same for a record given, stored under its own name.
    int Store(const CChannel& record);
    // Copies the stored channel of that name into the current record and has it sent; without
    // one, resets the current record and sends nothing. True when a stored channel was found.
    bool RecallCurrent();
    // Removes the stored channel of that name and saves: the save's result, kNotStored
    // (nothing saved) without one. When the save fails the channel stays in the list, as it
    // stays in the file.
    int DeleteCurrent();

    const std::vector<CChannel>& Records() const { return list_; }
    const std::string& FilePath() const { return filePath_; }

    // Where a save kept the file that was read only in part; empty while there is no backup.
    const std::string& BackupPath() const { return backupPath_; }
    // The backup's path the first time it is asked for after a save made it, empty otherwise.
    // The window asks after every store or delete and, given a path, shows kBackupNotice
    // with it, so the user hears once where the unreadable presets are.
    std::string TakeBackupNotice();
    // What the user is told with that path: kBackupNotice or kNamesBackupNotice.
    const char* BackupNoticeText() const { return backupNotice_; }

  private:
    std::vector<CChannel>::iterator FindName(const std::string& name);
    int KeepBackup();

    std::string filePath_;
    CCurrentChannelAccess& controller_;
    std::vector<CChannel> list_;
    // Set by a load that read an existing file only in part, until a save has kept it.
    bool backupPending_ = false;
    bool backupNoticeDue_ = false;
    const char* backupNotice_ = kBackupNotice;
    std::string backupPath_;
};
