#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "settings/Number.h"

namespace {

TEST(Number, ReadLeadingInt) {
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {{"42", 42},
                 {"  -7x", -7},
                 {"+3", 3},
                 {"", 0},
                 {"abc", 0},
                 {"- 5", 0},
                 {"12.9", 12},
                 {"\t\n 8", 8},
                 {"99999999999", INT32_MAX},
                 {"-99999999999", INT32_MIN},
                 {"2147483647", INT32_MAX},
                 {"-2147483648", INT32_MIN}};
    for (const auto& c : cases) EXPECT_EQ(ReadLeadingInt(c.text), c.value) << c.text;
}

// Blanks and the decimal comma are each caller's to handle; the sign is LeadingNumber's.
TEST(Number, DecimalNumberAtTheStart) {
    const struct {
        const char* text;
        std::size_t length;
        std::optional<double> value;
    } cases[] = {
        {"12", 2, 12.0},
        {"3.25", 4, 3.25},
        {".5", 2, 0.5},
        {"7.", 2, 7.0},
        {".", 0, std::nullopt},
        {"", 0, std::nullopt},
        {"1.2.3", 3, 1.2},
        {"12abc", 2, 12.0},
        {"0x1F", 1, 0.0},
        {"2e3", 3, 2000.0},
        {"25E-1x", 5, 2.5},
        {"2e+3", 4, 2000.0},
        {"2e", 1, 2.0},
        {"2e+", 1, 2.0},
        {".e5", 0, std::nullopt},
        {"1,5", 1, 1.0},
        {" 5", 0, std::nullopt},
        {"-0.5", 0, -0.5},
        {"+4", 0, 4.0},
        {"-.25", 0, -0.25},
        {"+-4", 0, std::nullopt},
        {"-", 0, std::nullopt},
        {"1e999", 5, std::nullopt},
        {"-1e999", 0, std::nullopt},
        {"1e-999", 6, std::nullopt},
        {"inf", 0, std::nullopt},
        {"nan", 0, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NumberLength(c.text), c.length) << c.text;
        EXPECT_EQ(LeadingNumber(c.text), c.value) << c.text;
    }
}

}  // namespace
