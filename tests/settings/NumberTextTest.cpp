// The stored number forms: exact digits, ties, non-finite texts, and strtol/strtod-like reading
// that does not depend on the C library or the locale.
#include "settings/NumberText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <string>
#include <tuple>

namespace quarvel {
namespace {

TEST(NumberFormat, IntegersAndFixedDecimals)
{
    for (auto [value, text] : { std::pair { 0, "0" }, { -3, "-3" }, { 150, "150" },
             { INT32_MAX, "2147483647" }, { INT32_MIN, "-2147483648" } })
        EXPECT_EQ(formatInt(value), text);
    const std::tuple<double, int, const char*> cases[]
        = { { 1.0, kStoredDecimals, "1.00000000" }, { 0.5, kStoredDecimals, "0.50000000" },
              { 1.0, kDefaultTextDecimals, "1.000000" }, { 0.1, kStoredDecimals, "0.10000000" },
              { -2.5, 0, "-2" }, { 123456789.123456789, kStoredDecimals, "123456789.12345679" },
              // Digits beyond the seventeenth are the exact binary value's, not zeros.
              { 1e23, kStoredDecimals, "99999999999999991611392.00000000" },
              // Exact ties round to even: 1/512, 3/512.
              { 0.001953125, kStoredDecimals, "0.00195312" }, { 0.005859375, kStoredDecimals, "0.00585938" },
              { 0.5, 0, "0" }, { 1.5, 0, "2" },
              // The sign of zero, and the non-finite texts.
              { -0.0, kStoredDecimals, "-0.00000000" }, { -1e-10, kStoredDecimals, "-0.00000000" },
              { DBL_TRUE_MIN, kStoredDecimals, "0.00000000" }, { HUGE_VAL, kStoredDecimals, "inf" },
              { -HUGE_VAL, kStoredDecimals, "-inf" }, { std::nan(""), kStoredDecimals, "nan" },
              { -std::nan(""), kDefaultTextDecimals, "nan" } };
    for (auto [value, decimals, text] : cases)
        EXPECT_EQ(formatDouble(value, decimals), text);
    const std::string largest = formatDouble(DBL_MAX, kStoredDecimals);
    EXPECT_EQ(largest.size(), 309u + 9u);
    EXPECT_EQ(largest.substr(0, 20), "17976931348623157081");
    EXPECT_EQ(largest.substr(300), "124858368.00000000");
}

TEST(NumberParse, IntegersLikeStrtolAndSaturating)
{
    const std::pair<const char*, int32_t> cases[] = { { "12", 12 }, { " \t\n\v\f\r-12", -12 }, { "+7;", 7 },
        { "3.9", 3 }, { "12.7", 12 }, { "", 0 }, { "abc", 0 }, { "- 5", 0 }, { "0x1F", 0 }, { nullptr, 0 },
        { "2147483647", INT32_MAX }, { "2147483648", INT32_MAX }, { "-2147483648", INT32_MIN },
        { "-2147483649", INT32_MIN }, { "999999999999999999999999999999", INT32_MAX } };
    for (auto [text, value] : cases)
        EXPECT_EQ(parseInt(text), value) << (text ? text : "null");
}

TEST(NumberParse, DoublesLikeStrtodCorrectlyRounded)
{
    const std::pair<const char*, double> cases[] = { { "2.50000000", 2.5 }, { "5", 5.0 },
        { "  -12.5e1x", -125.0 }, { "+.5", 0.5 }, { "5.", 5.0 }, { "1E2", 100.0 }, { "1e", 1.0 },
        { "1e+", 1.0 }, { "1.5,25", 1.5 } /* never a decimal comma */,
        { "0.000000000000000000000000000001e30", 1.0 },
        // Nothing readable is 0.
        { "", 0.0 }, { ".", 0.0 }, { "-", 0.0 }, { "e5", 0.0 }, { "-.e5", 0.0 }, { "inf", 0.0 },
        { "nan", 0.0 }, { "infinity", 0.0 }, { "0x1p3", 0.0 }, { " ;5", 0.0 }, { nullptr, 0.0 },
        // Correctly rounded at the edges; ties to even.
        { "9007199254740993", 9007199254740992.0 }, { "9007199254740995", 9007199254740996.0 },
        { "1.7976931348623157e308", DBL_MAX }, { "1.7976931348623158e308", DBL_MAX },
        { "1.7976931348623159e308", HUGE_VAL }, { "-1e400", -HUGE_VAL },
        { "2.2250738585072014e-308", DBL_MIN }, { "2.2250738585072011e-308", std::nextafter(DBL_MIN, 0.0) },
        { "4.9406564584124654e-324", DBL_TRUE_MIN }, { "2.4703282292062328e-324", DBL_TRUE_MIN },
        { "2.4703282292062327e-324", 0.0 }, { "1e-400", 0.0 }, { "1e999999999999999999999", HUGE_VAL } };
    for (auto [text, value] : cases)
        EXPECT_EQ(parseDouble(text), value) << (text ? text : "null");
    EXPECT_TRUE(std::signbit(parseDouble("-0")));
    // Digits beyond the kept ones still decide ties.
    const std::string tie = "9007199254740993." + std::string(900, '0');
    EXPECT_EQ(parseDouble(tie.c_str()), 9007199254740992.0);
    EXPECT_EQ(parseDouble((tie + "1").c_str()), 9007199254740994.0);
    EXPECT_EQ(
        parseDouble(("9007199254740993" + std::string(900, '0') + "e-900").c_str()), 9007199254740992.0);
}

TEST(NumberRoundTrip, PageValuesSurviveStoring)
{
    // Clip percentages step 0.01, radii step 0.1: the stored text reads back as the same double.
    for (int step = 0; step <= 3000; ++step) {
        for (const double value : { step / 100.0, step / 10.0, -step / 100.0 }) {
            const std::string text = formatDouble(value, kStoredDecimals);
            ASSERT_EQ(parseDouble(text.c_str()), value) << text;
        }
    }
    for (int32_t value : { 0, 1, -1, 4711, -65536, INT32_MAX, INT32_MIN })
        EXPECT_EQ(parseInt(formatInt(value).c_str()), value);
}

} // namespace
} // namespace quarvel
