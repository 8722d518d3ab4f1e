#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The lamp's coefficient table as read from a text file: up to 50 rows of three integers.
// One row per line; lines are trimmed, empty lines and lines starting with ";" are comments,
// fields are separated by tabs, each field is its leading integer clamped to 0..65535.
namespace Coefficients {

constexpr int kRows = 50;
constexpr int kColumns = 3;
// The longest line a row may be, without its line end. A longer one is no row of three 16-bit
// numbers; taking it in pieces would make rows of whatever the pieces start with.
constexpr std::size_t kMaxLine = 999;
// A table is a few hundred bytes; reading stops here, so a device that never ends (or a file
// of one endless line) cannot keep the window waiting.
constexpr std::size_t kMaxFileSize = std::size_t{1} << 20;

using Row = std::array<std::uint16_t, kColumns>;
using Table = std::array<Row, kRows>;

// Why a file gave no table.
enum class Fault {
    None,
    CannotOpen,  // missing, or not readable
    NotAFile,    // a folder, FIFO, device or socket
    TooLarge,    // more than kMaxFileSize bytes
    LongLine,    // a line longer than kMaxLine before the rows were found
    NotText,     // a zero byte: a picture, a program or text in two-byte characters
    NoneFound,   // no field of the rows read is a number: no table at all, only zeros
};

struct Result {
    Table table{};  // all zero unless fault is None
    Fault fault = Fault::None;
    int line = 0;  // for LongLine, the line's number counted from 1
    int rows = 0;  // rows the file gave, at most the number asked for
};

// The row count typed by the user: its leading integer, when it is 1..50.
std::optional<int> RowCount(std::string_view text);

// The row a trimmed-or-not line stands for; nothing for a comment or an empty line.
std::optional<Row> ParseLine(std::string_view line);
// A field that reads as a number: after leading blanks, an optional sign and a digit.
bool IsNumber(std::string_view field);

// Reads rows until `rows` (held to 0..50) of them are found or the input ends; the rest of the
// table stays 0. A line end is "\n" or "\r\n". At most kMaxFileSize bytes are read: input
// that goes on past them, or a line longer than kMaxLine met before the rows are found, gives
// its fault and no table; so does a zero byte among what was read, and rows of which no field
// reads as a number, since writing such a file would only clear the lamp's calibration.
Result Read(std::istream& in, int rows);
Result Parse(std::string_view text, int rows);
// Opens the file without waiting (a FIFO has no writer) and reads it as Read does; only a
// regular file of at most kMaxFileSize bytes is read.
Result ReadFile(const std::string& path, int rows);

// The table as a file Read takes back: a comment line per entry of `heading`, then the rows up
// to the last one that is not all zero (at least one), so any count from that many rows on
// loads exactly this table again.
std::string Format(const Table& table, const std::vector<std::string>& heading);
// The rows Format writes for this table.
int UsedRows(const Table& table);

}  // namespace Coefficients
