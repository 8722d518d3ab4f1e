#pragma once
#include <cstdint>
#include <string>
#include <utility>

#include "link/Frame.h"

// The protocol log: records of the lamp traffic in one text file that every lamp appends to.
// The records are built apart from the file, so that their text stands on its own.
// The file keeps at most about limit bytes: a record that would take it past the limit first
// moves it aside to RotatedPath (replacing an older one) and starts a new file, so a log left
// on for weeks cannot fill the disk.
class CProtocolLog {
  public:
    static constexpr std::uintmax_t kDefaultLimit = 10 * 1024 * 1024;

    explicit CProtocolLog(std::string path, std::uintmax_t limit = kDefaultLimit)
        : path_(std::move(path)), limit_(limit) {}

    const std::string& Path() const { return path_; }
    // Where a full log goes: "log.txt" becomes "log.1.txt" in the same folder.
    std::string RotatedPath() const;
    // Opens the file for appending, writes one record and closes it again, so that every lamp
    // can append and nothing is held open; false, and the record dropped, when it cannot open.
    bool Append(const std::string& record) const;

    // Records; msOfDay is the time as milliseconds since local midnight.
    // "TXT hh:mm:ss.mmm text".
    static std::string TextRecord(std::uint32_t msOfDay, const std::string& text);
    // The tag with "ok" and the frame's command, error and data bytes, or with "error" and
    // nothing more when there is no frame; a status frame ("ST") adds its eight values.
    static std::string FrameRecord(std::uint32_t msOfDay, const CFrame* frame,
                                   const std::string& tag);
    // 40 framed bytes whose checksum failed, as they arrived.
    static std::string ChecksumRecord(std::uint32_t msOfDay, const CFrame& raw);
    static std::string TimeStamp(std::uint32_t msOfDay);
    static std::uint32_t LocalTimeOfDayMs();

  private:
    std::string path_;
    std::uintmax_t limit_;
};
