#pragma once
#include <array>
#include <cstdint>
#include <istream>
#include <optional>
#include <string_view>

// The lamp's coefficient table as read from a text file: up to 50 rows of three integers.
// One row per line; lines are trimmed, empty lines and lines starting with ";" are comments,
// fields are separated by tabs, each field is its leading integer clamped to 0..65535.
namespace Coefficients {

constexpr int kRows = 50;
constexpr int kColumns = 3;
// Lines are read into a buffer of this many characters with its terminator, so a longer line
// is taken as several.
constexpr std::size_t kLineBuffer = 1000;

using Row = std::array<std::uint16_t, kColumns>;
using Table = std::array<Row, kRows>;

// The row count typed by the user: its leading integer, when it is 1..50.
std::optional<int> RowCount(std::string_view text);

// The row a trimmed-or-not line stands for; nothing for a comment or an empty line.
std::optional<Row> ParseLine(std::string_view line);

// Reads rows until `rows` (held to 0..50) of them are found or the input ends; the rest of the
// table stays 0. A line end is "\n" or "\r\n".
Table Read(std::istream& in, int rows);
Table Parse(std::string_view text, int rows);

}  // namespace Coefficients
