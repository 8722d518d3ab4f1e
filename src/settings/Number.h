#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Numbers read from text the way every file, box and store of the program writes them.

// Decimal integer at the start of the text: leading white space skipped, one optional
// sign, digits up to the first other character; no digits give 0. Saturates at the
// limits of a 32-bit integer.
std::int32_t ReadLeadingInt(std::string_view text);

// Length of the longest decimal number at the start of the text: digits with at most one
// point and at least one digit, then an exponent where one with digits follows. No blanks
// and no sign: callers take those off first, as from_chars reads no plus.
std::size_t NumberLength(std::string_view text);

// The number NumberLength finds after one optional sign, as a double; nothing when there is
// no number or its exponent carries it beyond the range of a double (1e999, 1e-999).
std::optional<double> LeadingNumber(std::string_view text);
