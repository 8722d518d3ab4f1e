#include <gtest/gtest.h>

#include <string>

#include "settings/Coefficients.h"

namespace {

using Coefficients::Row;
using Coefficients::Table;

// The rows of a table that are not all zero, as text, for readable failures.
std::string Used(const Table& table) {
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
        {"text up to a zero byte",
         std::string("5\0"
                     "7\n6\n",
                     5),
         19, "0:5,0,0 1:6,0,0 "},
        {"zero rows asked for", "1\n", 0, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Used(Coefficients::Parse(c.text, c.rows)), c.expected) << c.name;
    }
}

TEST(CoefficientsTest, LongLinesAreTakenInBufferSizedPieces) {
    // 998 blanks and "1": the buffer takes 999 characters, so "1" ends the first piece; the
    // next line follows as its own row.
    EXPECT_EQ(Used(Coefficients::Parse(std::string(998, ' ') + "1\n2\n", 19)), "0:1,0,0 1:2,0,0 ");
    // 999 blanks and "3": the first piece is all blanks (skipped), "3" is a line of its own.
    EXPECT_EQ(Used(Coefficients::Parse(std::string(999, ' ') + "3\n", 19)), "0:3,0,0 ");
    // A 999-character row and its line end: the line end alone is an empty piece, skipped.
    EXPECT_EQ(Used(Coefficients::Parse("4" + std::string(998, 'x') + "\n5\n", 19)),
              "0:4,0,0 1:5,0,0 ");
    // CRLF counts as one character, as a text-mode read sees it.
    EXPECT_EQ(Used(Coefficients::Parse(std::string(997, ' ') + "6\r\n7\r\n", 19)),
              "0:6,0,0 1:7,0,0 ");
    // 2,500 digits of one number make three pieces, each a row.
    EXPECT_EQ(Used(Coefficients::Parse(std::string(2500, '1') + "\n", 3)),
              "0:65535,0,0 1:65535,0,0 2:65535,0,0 ");
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
