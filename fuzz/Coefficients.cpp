// Feeds arbitrary bytes to the coefficient file reader with every row count, checking that it
// never fills more rows than asked, that a refused input fills none, and that the row it finds
// for a line does not depend on how the text arrives.
#include "settings/Coefficients.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The first byte picks the row count, including ones outside 1..50.
    const int rows = static_cast<int>(data[0]) - 64;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const Coefficients::Result read = Coefficients::Parse(text, rows);
    const Coefficients::Table& table = read.table;
    for (int r = std::max(rows, 0); r < Coefficients::kRows; ++r)
        Check(table[static_cast<std::size_t>(r)] == Coefficients::Row{});
    // A file refused gives no rows at all.
    if (read.fault != Coefficients::Fault::None) Check(table == Coefficients::Table{});
    // A stream without CRs reads as the same text with its CRLFs.
    std::string crlf;
    for (char c : text) {
        if (c == '\r') return 0;
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    const Coefficients::Result withCrlf = Coefficients::Parse(crlf, rows);
    // The CRs lengthen no line; only the size bound may now be passed.
    if (withCrlf.fault != Coefficients::Fault::TooLarge) {
        Check(withCrlf.table == table);
        Check(withCrlf.fault == read.fault);
        Check(withCrlf.line == read.line);
    }
    Coefficients::ParseLine(text);
    Coefficients::RowCount(text);
    return 0;
}
