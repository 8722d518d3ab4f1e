#pragma once
#include <cstdint>
#include <string>

#include "link/Frame.h"

// The protocol log: records of the lamp traffic in one text file that every lamp appends to.
// The records are built apart from the file, so that their text stands on its own.
class CProtocolLog {
  public:
    explicit CProtocolLog(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
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
};
