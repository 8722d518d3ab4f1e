#include "settings/Coefficients.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <sstream>
#include <string>

namespace Coefficients {
namespace {

constexpr long long kHighest = std::numeric_limits<std::uint16_t>::max();

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Blanks and control characters, as trimming sees them.
bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool IsLeadingBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The integer at the start of text after leading blanks, saturating far beyond 16 bits; 0
// when there is none.
long long LeadingInteger(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsLeadingBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i)
        value = std::min(value * 10 + (text[i] - '0'), kHighest + 1);
    return negative ? -value : value;
}

}  // namespace

std::optional<int> RowCount(std::string_view text) {
    const long long n = LeadingInteger(text);
    if (n <= 0 || n > kRows) return std::nullopt;
    return static_cast<int>(n);
}

bool IsNumber(std::string_view field) {
    std::size_t i = 0;
    while (i < field.size() && IsLeadingBlank(field[i])) ++i;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) ++i;
    return i < field.size() && IsDigit(field[i]);
}

namespace {

struct ParsedLine {
    Row row{};
    bool numeric = false;  // some field read as a number
};

std::optional<ParsedLine> ParseFields(std::string_view line) {
    // A line is text up to its first zero byte, as a C string would hold it.
    line = line.substr(0, line.find('\0'));
    while (!line.empty() && IsTrimmed(line.front())) line.remove_prefix(1);
    while (!line.empty() && IsTrimmed(line.back())) line.remove_suffix(1);
    if (line.empty() || line.front() == ';') return std::nullopt;
    ParsedLine parsed;
    for (int column = 0; column < kColumns; ++column) {
        const std::size_t tab = line.find('\t');
        const std::string_view field = line.substr(0, tab);
        parsed.numeric = parsed.numeric || IsNumber(field);
        parsed.row[static_cast<std::size_t>(column)] =
            static_cast<std::uint16_t>(std::clamp(LeadingInteger(field), 0LL, kHighest));
        if (tab == std::string_view::npos) break;
        line.remove_prefix(tab + 1);
    }
    return parsed;
}

}  // namespace

std::optional<Row> ParseLine(std::string_view line) {
    const std::optional<ParsedLine> parsed = ParseFields(line);
    if (!parsed) return std::nullopt;
    return parsed->row;
}

Result Read(std::istream& in, int rows) {
    Result result;
    const int wanted = std::clamp(rows, 0, kRows);
    int row = 0;
    int number = 0;
    std::size_t total = 0;
    bool numeric = false;
    std::string line;
    std::streambuf* source = in.rdbuf();
    bool end = source == nullptr;
    const auto failed = [&result](Fault fault) {
        result.table = {};
        result.fault = fault;
        return result;
    };
    while (row < wanted && !end) {
        line.clear();
        ++number;
        for (;;) {
            int c = source->sbumpc();
            if (c == std::char_traits<char>::eof()) {
                end = true;
                break;
            }
            if (++total > kMaxFileSize) return failed(Fault::TooLarge);
            if (c == 0) return failed(Fault::NotText);
            if (c == '\r' && source->sgetc() == '\n') continue;
            if (c == '\n') break;
            if (line.size() == kMaxLine) {
                result.line = number;
                return failed(Fault::LongLine);
            }
            line.push_back(static_cast<char>(c));
        }
        if (const std::optional<ParsedLine> parsed = ParseFields(line)) {
            numeric = numeric || parsed->numeric;
            result.table[static_cast<std::size_t>(row++)] = parsed->row;
        }
    }
    if (wanted > 0 && !numeric) return failed(Fault::NoneFound);
    result.rows = row;
    return result;
}

Result Parse(std::string_view text, int rows) {
    std::istringstream in{std::string(text)};
    return Read(in, rows);
}

Result ReadFile(const std::string& path, int rows) {
    Result result;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        // A FIFO or socket that cannot be opened this way is still no file to read.
        result.fault = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) ? Fault::NotAFile
                                                                              : Fault::CannotOpen;
        if (fd >= 0) ::close(fd);
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        result.fault = Fault::NotAFile;
        return result;
    }
    if (static_cast<std::size_t>(st.st_size) > kMaxFileSize) {
        ::close(fd);
        result.fault = Fault::TooLarge;
        return result;
    }
    // One byte beyond the bound tells a file that grew past it since.
    std::string text;
    char buffer[65536];
    while (text.size() <= kMaxFileSize) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            result.fault = Fault::CannotOpen;
            return result;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return Parse(text, rows);
}

int UsedRows(const Table& table) {
    int used = kRows;
    while (used > 1 && table[static_cast<std::size_t>(used - 1)] == Row{}) --used;
    return used;
}

std::string Format(const Table& table, const std::vector<std::string>& heading) {
    std::string text;
    for (const std::string& line : heading) text += "; " + line + "\n";
    for (int r = 0; r < UsedRows(table); ++r) {
        const Row& row = table[static_cast<std::size_t>(r)];
        text += std::to_string(row[0]) + "\t" + std::to_string(row[1]) + "\t" +
                std::to_string(row[2]) + "\n";
    }
    return text;
}

}  // namespace Coefficients
