#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "Tempdir.h"
#include "link/Protolog.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

CFrame Sample(std::uint8_t cmd) {
    CFrame frame;
    frame.cmd = cmd;
    frame.cd1 = 0x01;
    frame.cd2 = 0x20;
    frame.err = 0x03;
    frame.Data[0] = 0xAB;
    frame.Data[31] = 0x0F;
    return frame;
}

const std::string kData =
    "AB 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
    "00 0F \n";

TEST(Protolog, Records) {
    // 10:02:03.045, and a time past midnight wraps to the day's hour.
    const std::uint32_t t = ((10 * 60 + 2) * 60 + 3) * 1000 + 45;
    const CFrame frame = Sample(0x07);
    CFrame status = Sample(0xFF);
    status.Data.fill(0);
    const std::uint8_t negative[4] = {0xFF, 0xFF, 0xFE, 0x80};  // -384 / 256
    std::copy(std::begin(negative), std::end(negative), status.Data.begin());
    status.Data[31] = 0x40;  // 64 / 256
    CFrame damaged = Sample(0x09);
    damaged.Encode(0x21);
    damaged.Raw[38] ^= 0x01;

    struct Case {
        const char* name;
        std::string record;
        std::string expected;
    };
    const Case cases[] = {
        {"text", CProtocolLog::TextRecord(t, "devices found: 2"),
         "TXT 10:02:03.045 devices found: 2\n"},
        {"next day", CProtocolLog::TextRecord(t + 24 * 3600000, "x"), "TXT 10:02:03.045 x\n"},
        {"frame", CProtocolLog::FrameRecord(t, &frame, "IN"),
         "IN ok 10:02:03.045\ncmd=07 cd1=01 cd2=20 err=03\n" + kData + "\n"},
        {"no frame", CProtocolLog::FrameRecord(t, nullptr, "IN"), "IN error 10:02:03.045\n\n"},
        {"status values are signed", CProtocolLog::FrameRecord(0, &status, "ST"),
         "ST ok 00:00:00.000\ncmd=FF cd1=01 cd2=20 err=03\n"
         "FF FF FE 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
         "00 00 40 \n"
         "-1.50 0.00 0.00 0.00 0.00 0.00 0.00 0.25 \n\n"},
        {"checksum error", CProtocolLog::ChecksumRecord(t, damaged),
         "IN checksum error 10:02:03.045\ncmd=09 cd1=01 cd2=20 err=00\n" + kData +
             "seq=21 checksum=04 sum=05\n\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.record, c.expected);
    }
}

TEST(Protolog, AppendsWholeRecordsFromManyThreadsAndDropsWhatItCannotWrite) {
    TempDir folder;
    const CProtocolLog first(folder.File("log.txt"));
    const CProtocolLog second(folder.File("log.txt"));
    auto write = [](const CProtocolLog& log, const char* tag) {
        for (int i = 0; i < 200; ++i) log.Append(CProtocolLog::FrameRecord(0, nullptr, tag));
    };
    std::thread a(write, std::cref(first), "IN");
    std::thread b(write, std::cref(second), "ST");
    a.join();
    b.join();
    const auto lines = Lines(ReadBytes(first.Path()));
    ASSERT_EQ(lines.size(), 800u);
    for (std::size_t i = 0; i < lines.size(); i += 2) {
        EXPECT_TRUE(lines[i] == "IN error 00:00:00.000" || lines[i] == "ST error 00:00:00.000")
            << lines[i];
        EXPECT_EQ(lines[i + 1], "");
    }
    // A log in a folder that does not exist loses its records and nothing else.
    const CProtocolLog nowhere(folder.File("missing/log.txt"));
    EXPECT_FALSE(nowhere.Append("TXT x\n"));
    EXPECT_TRUE(first.Append("TXT x\n"));
}

TEST(Protolog, FullLogMovesAsideToLog1ReplacingTheOlderOne) {
    TempDir folder;
    // Room for three 10-byte records; the fourth starts a new file.
    const CProtocolLog log(folder.File("log.txt"), 30);
    EXPECT_EQ(log.RotatedPath(), folder.File("log.1.txt"));
    const std::string rotated = log.RotatedPath();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(log.Append("TXT rec " + std::to_string(i) + "\n"));
    EXPECT_EQ(ReadBytes(log.Path()).size(), 30u);
    EXPECT_FALSE(std::filesystem::exists(rotated));

    ASSERT_TRUE(log.Append("TXT rec 3\n"));
    EXPECT_EQ(ReadBytes(rotated), "TXT rec 0\nTXT rec 1\nTXT rec 2\n");
    EXPECT_EQ(ReadBytes(log.Path()), "TXT rec 3\n");

    // The next rotation replaces the older file: two files at most, nothing lost from the newest.
    for (int i = 4; i < 7; ++i) ASSERT_TRUE(log.Append("TXT rec " + std::to_string(i) + "\n"));
    EXPECT_EQ(ReadBytes(rotated), "TXT rec 3\nTXT rec 4\nTXT rec 5\n");
    EXPECT_EQ(ReadBytes(log.Path()), "TXT rec 6\n");

    // A record larger than the whole limit is kept, in a file of its own.
    const std::string big(50, 'x');
    ASSERT_TRUE(log.Append(big));
    EXPECT_EQ(ReadBytes(rotated), "TXT rec 6\n");
    EXPECT_EQ(ReadBytes(log.Path()), big);

    // The default keeps about 10 MB; a log without an extension rotates beside it too.
    EXPECT_EQ(CProtocolLog::kDefaultLimit, 10u * 1024 * 1024);
    EXPECT_EQ(CProtocolLog(folder.File("trace")).RotatedPath(), folder.File("trace.1"));
}

}  // namespace
