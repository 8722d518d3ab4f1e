#include "link/Protolog.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace {

// Every lamp may log to the same file from its own thread; one record at a time.
std::mutex& LogMutex() {
    static std::mutex mutex;
    return mutex;
}

void AppendFields(std::string& record, const CFrame& frame) {
    char text[64];
    std::snprintf(text, sizeof text, "cmd=%02X cd1=%02X cd2=%02X err=%02X\n", frame.cmd, frame.cd1,
                  frame.cd2, frame.err);
    record += text;
    for (std::uint8_t b : frame.Data) {
        std::snprintf(text, sizeof text, "%02X ", b);
        record += text;
    }
    record += "\n";
}

}  // namespace

std::string CProtocolLog::RotatedPath() const {
    const std::filesystem::path path(path_);
    std::filesystem::path rotated = path;
    rotated.replace_filename(path.stem().string() + ".1" + path.extension().string());
    return rotated.string();
}

bool CProtocolLog::Append(const std::string& record) const {
    std::lock_guard lock(LogMutex());
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path_, error);
    // A full log moves aside whole; a record larger than the limit still gets a file of its own.
    // Should the move fail, the log grows on rather than losing what it is told.
    if (!error && size > 0 && size + record.size() > limit_)
        std::filesystem::rename(path_, RotatedPath(), error);
    std::FILE* file = std::fopen(path_.c_str(), "a");
    if (!file) return false;
    const bool written = std::fwrite(record.data(), 1, record.size(), file) == record.size();
    return std::fclose(file) == 0 && written;
}

std::uint32_t CProtocolLog::LocalTimeOfDayMs() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    return static_cast<std::uint32_t>(
        ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 + ms);
}

std::string CProtocolLog::TimeStamp(std::uint32_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u.%03u", (ms / 3600000) % 24, (ms / 60000) % 60,
                  (ms / 1000) % 60, ms % 1000);
    return text;
}

std::string CProtocolLog::TextRecord(std::uint32_t msOfDay, const std::string& text) {
    return "TXT " + TimeStamp(msOfDay) + " " + text + "\n";
}

std::string CProtocolLog::FrameRecord(std::uint32_t msOfDay, const CFrame* frame,
                                      const std::string& tag) {
    std::string record = tag + (frame ? " ok " : " error ") + TimeStamp(msOfDay) + "\n";
    if (frame) {
        AppendFields(record, *frame);
        if (tag == "ST") {
            char text[32];
            for (std::size_t i = 0; i < 8; ++i) {
                const std::uint8_t* p = &frame->Data[i * 4];
                const auto value =
                    static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 24 |
                                              static_cast<std::uint32_t>(p[1]) << 16 |
                                              static_cast<std::uint32_t>(p[2]) << 8 | p[3]);
                std::snprintf(text, sizeof text, "%2.2f ", value / 256.0);
                record += text;
            }
            record += "\n";
        }
    }
    return record + "\n";
}

std::string CProtocolLog::ChecksumRecord(std::uint32_t msOfDay, const CFrame& raw) {
    CFrame frame = raw;
    frame.Decode(0);
    std::string record = "IN checksum error " + TimeStamp(msOfDay) + "\n";
    AppendFields(record, frame);
    char text[64];
    std::snprintf(text, sizeof text, "seq=%02X checksum=%02X sum=%02X\n\n", raw.Raw[1], raw.Raw[38],
                  raw.FrameChecksum());
    return record + text;
}
