#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "Fifo.h"
#include "Tempdir.h"
#include "settings/Coefficients.h"

namespace {

using Coefficients::Row;
using Coefficients::Table;

// The rows of a table that are not all zero, as text, for readable failures.
std::string Used(const Coefficients::Result& read) {
    EXPECT_EQ(read.fault, Coefficients::Fault::None);
    const Table& table = read.table;
    std::string out;
    for (std::size_t r = 0; r < table.size(); ++r) {
        const Row& row = table[r];
        if (row == Row{}) continue;
        out += std::to_string(r) + ":" + std::to_string(row[0]) + "," + std::to_string(row[1]) +
               "," + std::to_string(row[2]) + " ";
    }
    return out;
}

TEST(CoefficientsTest, FileContents) {
    struct Case {
        const char* name;
        std::string text;
        int rows;
        std::string expected;
    };
    std::string thirty;
    for (int i = 1; i <= 30; ++i) thirty += std::to_string(i) + "\n";
    std::string nineteen;
    for (int i = 1; i <= 19; ++i) nineteen += std::to_string(i) + " ";
    std::string firstNineteen;
    for (int i = 0; i < 19; ++i)
        firstNineteen += std::to_string(i) + ":" + std::to_string(i + 1) + ",0,0 ";
    const Case cases[] = {
        {"comment, empty line, three and one field", "; coefficients\n\n100\t200\t300\n7\n", 19,
         "0:100,200,300 1:7,0,0 "},
        {"same with CRLF line ends", "; c\r\n\r\n100\t200\t300\r\n7\r\n", 19,
         "0:100,200,300 1:7,0,0 "},
        {"no line end after the last row", "1\t2\t3\n4\t5\t6", 19, "0:1,2,3 1:4,5,6 "},
        {"only the first n rows", thirty, 19, firstNineteen},
        {"clamped fields", "70000\t-5\t65535\n", 19, "0:65535,0,65535 "},
        {"huge fields saturate", "99999999999999999999\t-99999999999999999999\n", 1,
         "0:65535,0,0 "},
        {"blanks and control characters trimmed", "  \t 12\t34 \x01\x02\n", 19, "0:12,34,0 "},
        {"integer prefixes, non-numbers are 0", "12abc\tx9\t+5.7\n", 19, "0:12,0,5 "},
        {"blanks before a field are skipped", "1\t  2\t 3\n", 19, "0:1,2,3 "},
        {"an empty field between tabs is 0", "1\t\t3\n", 19, "0:1,0,3 "},
        {"text after the third field is ignored", "1\t2\t3\t4\t5\n", 19, "0:1,2,3 "},
        {"a comment needs ';' first after trimming", "  ;5\n6;\n", 19, "0:6,0,0 "},
        {"a line of blanks only is empty", " \t \r\n8\n", 19, "0:8,0,0 "},
        {"a lone zero row still counts", "0\n9\n", 1, ""},
        {"one numeric field is enough", "abc\t12\nhello\n", 19, "0:0,12,0 "},
        {"zero rows asked for", "1\n", 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Used(Coefficients::Parse(c.text, c.rows)), c.expected) << c.name;
    }
    // A line on its own ends at a zero byte, as a C string would.
    EXPECT_EQ(Coefficients::ParseLine(std::string("5\0"
                                                  "7",
                                                  3)),
              (Row{5, 0, 0}));
}

// A line of up to 999 characters is a row; a longer one makes the whole file unusable rather
// than rows cut from its pieces, and so does input beyond the size bound, a zero byte (no text
// file) and rows without a single number (writing them would only clear the calibration).
TEST(CoefficientsTest, FilesThatAreNoTableGiveNone) {
    using Coefficients::Fault;
    const struct {
        const char* name;
        std::string text;
        int rows;
        Fault fault;
        int line;
        std::string expected;
    } cases[] = {
        {"998 blanks and a number", std::string(998, ' ') + "1\n2\n", 19, Fault::None, 0,
         "0:1,0,0 1:2,0,0 "},
        {"999 characters and CRLF", "4" + std::string(998, 'x') + "\r\n5\r\n", 19, Fault::None, 0,
         "0:4,0,0 1:5,0,0 "},
        {"1000 characters", std::string(999, ' ') + "3\n", 19, Fault::LongLine, 1, ""},
        {"a long line after a row", "1\n;\n" + std::string(2500, '1') + "\n2\n", 19,
         Fault::LongLine, 3, ""},
        {"a long line after the rows asked for", "1\n2\n" + std::string(2500, '1'), 2, Fault::None,
         0, "0:1,0,0 1:2,0,0 "},
        {"a line of zero bytes", std::string(5000, '\0'), 19, Fault::NotText, 0, ""},
        {"rows, then a zero byte",
         std::string("5\n7\0"
                     "8\n",
                     6),
         19, Fault::NotText, 0, ""},
        {"words", "hello world\n", 19, Fault::NoneFound, 0, ""},
        {"words with tabs and signs", "a\tb\tc\n- x\t+\t.5\n", 19, Fault::NoneFound, 0, ""},
        {"comments and blank lines only", "; 1\t2\t3\n\n  \n", 19, Fault::NoneFound, 0, ""},
        {"an empty file", "", 19, Fault::NoneFound, 0, ""},
        {"numbers only after the rows asked for", "x\ny\n1\n", 2, Fault::NoneFound, 0, ""},
        {"short lines beyond the size bound", std::string(Coefficients::kMaxFileSize, '\n') + "7\n",
         19, Fault::TooLarge, 0, ""},
    };
    for (const auto& c : cases) {
        const Coefficients::Result read = Coefficients::Parse(c.text, c.rows);
        EXPECT_EQ(read.fault, c.fault) << c.name;
        EXPECT_EQ(read.line, c.line) << c.name;
        if (read.fault == Fault::None) {
            EXPECT_EQ(Used(read), c.expected) << c.name;
        } else {
            EXPECT_EQ(read.table, Table{}) << c.name;
        }
    }
}

// Only a regular file is read, without waiting for a FIFO's writer or reading a device for ever.
TEST(CoefficientsTest, OnlyARegularFileOfBoundedSizeIsRead) {
    using namespace std::chrono_literals;
    using Coefficients::Fault;
    TempDir dir;
    WriteBytes(dir.File("table.txt"), "; table\n1\t2\t3\n");
    const std::string large = dir.File("large.txt");
    WriteBytes(large, "1\n");
    std::filesystem::resize_file(large, Coefficients::kMaxFileSize + 1);
    MakeFifo(dir.File("fifo"));
    const struct {
        std::string path;
        Fault fault;
    } cases[] = {
        {dir.File("table.txt"), Fault::None}, {dir.File("missing.txt"), Fault::CannotOpen},
        {dir.Path.string(), Fault::NotAFile}, {dir.File("fifo"), Fault::NotAFile},
        {"/dev/zero", Fault::NotAFile},       {large, Fault::TooLarge},
    };
    for (const auto& c : cases) {
        Coefficients::Result read;
        ASSERT_TRUE(FinishesWithin(5s, dir.File("fifo"), [&] {
            read = Coefficients::ReadFile(c.path, 19);
        })) << c.path;
        EXPECT_EQ(read.fault, c.fault) << c.path;
    }
    EXPECT_EQ(Used(Coefficients::ReadFile(dir.File("table.txt"), 19)), "0:1,2,3 ");
}

// A saved table loads back to the same table with the rows it was saved with, or more.
TEST(CoefficientsTest, ASavedTableReadsBackTheSame) {
    Table table{};
    table[0] = Row{100, 200, 300};
    table[6] = Row{0, 65535, 1};
    const Table zero{};
    for (const Table& t : {table, zero}) {
        const std::string text = Coefficients::Format(t, {"lamp A1", "saved today"});
        const int used = Coefficients::UsedRows(t);
        EXPECT_EQ(used, t == zero ? 1 : 7);
        EXPECT_EQ(text.rfind("; lamp A1\n; saved today\n", 0), 0U) << text;
        for (const int rows : {used, Coefficients::kRows}) {
            const Coefficients::Result read = Coefficients::Parse(text, rows);
            EXPECT_EQ(read.fault, Coefficients::Fault::None);
            EXPECT_EQ(read.table, t);
            EXPECT_EQ(read.rows, used);
        }
    }
}

TEST(CoefficientsTest, RowCountFromTheBox) {
    const struct {
        const char* text;
        std::optional<int> rows;
    } cases[] = {{"19", 19},
                 {" 50", 50},
                 {"1", 1},
                 {"51", std::nullopt},
                 {"0", std::nullopt},
                 {"-3", std::nullopt},
                 {"", std::nullopt},
                 {"abc", std::nullopt},
                 {"7x", 7},
                 {"99999999999999999999", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(Coefficients::RowCount(c.text), c.rows) << c.text;
}

}  // namespace
