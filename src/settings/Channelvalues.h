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

    // Stores both and loads the file.
    CchannelValues(const std::string& dataFolder, CCurrentChannelAccess& controller);

    // Replaces the list with the file's entries; a missing or broken file gives an empty or
    // partial list. Returns the document's load result, which callers may ignore.
    int Load();
    // Writes the whole list, in list order; the old file stays whole when this fails.
    int Save();

    // Sorts the list by name and returns the non-empty names joined by LF.
    std::string NameList();
    // Whether a stored channel bears the current record's name.
    bool Contains();
    // Replaces the stored channel of the current record's name, or appends one; then saves.
    int StoreCurrent();
    // Copies the stored channel of that name into the current record and has it sent; without
    // one, resets the current record and sends nothing. True when a stored channel was found.
    bool RecallCurrent();
    // Removes the stored channel of that name and saves; false (nothing saved) without one.
    bool DeleteCurrent();

    const std::vector<CChannel>& Records() const { return list_; }
    const std::string& FilePath() const { return filePath_; }

  private:
    std::vector<CChannel>::iterator FindName(const std::string& name);

    std::string filePath_;
    CCurrentChannelAccess& controller_;
    std::vector<CChannel> list_;
};
