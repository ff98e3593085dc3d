// The stored number forms: exact digits, ties, non-finite texts, and strtol/strtod-like reading
// that does not depend on the C library or the locale.
#include "settings/NumberText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <string>

namespace quarvel {
namespace {

TEST(NumberFormat, IntegersAsPercentLd)
{
    EXPECT_EQ(formatInt(0), "0");
    EXPECT_EQ(formatInt(-3), "-3");
    EXPECT_EQ(formatInt(150), "150");
    EXPECT_EQ(formatInt(INT32_MAX), "2147483647");
    EXPECT_EQ(formatInt(INT32_MIN), "-2147483648");
}

TEST(NumberFormat, FixedDecimals)
{
    EXPECT_EQ(formatDouble(1.0, kStoredDecimals), "1.00000000");
    EXPECT_EQ(formatDouble(0.5, kStoredDecimals), "0.50000000");
    EXPECT_EQ(formatDouble(1.0, kDefaultTextDecimals), "1.000000");
    EXPECT_EQ(formatDouble(0.1, kStoredDecimals), "0.10000000");
    EXPECT_EQ(formatDouble(-2.5, 0), "-2");
    EXPECT_EQ(formatDouble(123456789.123456789, kStoredDecimals), "123456789.12345679");
    // Digits beyond the seventeenth are the exact binary value's, not zeros.
    EXPECT_EQ(formatDouble(1e23, kStoredDecimals), "99999999999999991611392.00000000");
    const std::string largest = formatDouble(DBL_MAX, kStoredDecimals);
    EXPECT_EQ(largest.size(), 309u + 9u);
    EXPECT_EQ(largest.substr(0, 20), "17976931348623157081");
    EXPECT_EQ(largest.substr(300), "124858368.00000000");
}

TEST(NumberFormat, ExactTiesRoundToEven)
{
    EXPECT_EQ(formatDouble(0.001953125, kStoredDecimals), "0.00195312"); // 1/512
    EXPECT_EQ(formatDouble(0.005859375, kStoredDecimals), "0.00585938"); // 3/512
    EXPECT_EQ(formatDouble(0.5, 0), "0");
    EXPECT_EQ(formatDouble(1.5, 0), "2");
}

TEST(NumberFormat, SignOfZeroAndNonFiniteTexts)
{
    EXPECT_EQ(formatDouble(-0.0, kStoredDecimals), "-0.00000000");
    EXPECT_EQ(formatDouble(-1e-10, kStoredDecimals), "-0.00000000");
    EXPECT_EQ(formatDouble(DBL_TRUE_MIN, kStoredDecimals), "0.00000000");
    EXPECT_EQ(formatDouble(HUGE_VAL, kStoredDecimals), "inf");
    EXPECT_EQ(formatDouble(-HUGE_VAL, kStoredDecimals), "-inf");
    EXPECT_EQ(formatDouble(std::nan(""), kStoredDecimals), "nan");
    EXPECT_EQ(formatDouble(-std::nan(""), kDefaultTextDecimals), "nan");
}

TEST(NumberParse, IntegersLikeStrtol)
{
    EXPECT_EQ(parseInt("12"), 12);
    EXPECT_EQ(parseInt(" \t\n\v\f\r-12"), -12);
    EXPECT_EQ(parseInt("+7;"), 7);
    EXPECT_EQ(parseInt("3.9"), 3);
    EXPECT_EQ(parseInt("12.7"), 12);
    EXPECT_EQ(parseInt(""), 0);
    EXPECT_EQ(parseInt("abc"), 0);
    EXPECT_EQ(parseInt("- 5"), 0);
    EXPECT_EQ(parseInt("0x1F"), 0);
    EXPECT_EQ(parseInt(nullptr), 0);
}

TEST(NumberParse, IntegersSaturate)
{
    EXPECT_EQ(parseInt("2147483647"), INT32_MAX);
    EXPECT_EQ(parseInt("2147483648"), INT32_MAX);
    EXPECT_EQ(parseInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseInt("-2147483649"), INT32_MIN);
    EXPECT_EQ(parseInt("999999999999999999999999999999"), INT32_MAX);
}

TEST(NumberParse, DoublesLikeStrtod)
{
    EXPECT_EQ(parseDouble("2.50000000"), 2.5);
    EXPECT_EQ(parseDouble("5"), 5.0);
    EXPECT_EQ(parseDouble("  -12.5e1x"), -125.0);
    EXPECT_EQ(parseDouble("+.5"), 0.5);
    EXPECT_EQ(parseDouble("5."), 5.0);
    EXPECT_EQ(parseDouble("1E2"), 100.0);
    EXPECT_EQ(parseDouble("1e"), 1.0);
    EXPECT_EQ(parseDouble("1e+"), 1.0);
    EXPECT_EQ(parseDouble("1.5,25"), 1.5); // never a decimal comma
    EXPECT_EQ(parseDouble("0.000000000000000000000000000001e30"), 1.0);
    EXPECT_TRUE(std::signbit(parseDouble("-0")));
}

TEST(NumberParse, NothingReadableIsZero)
{
    for (const char* text : { "", ".", "-", "e5", "-.e5", "inf", "nan", "infinity", "0x1p3", " ;5" })
        EXPECT_EQ(parseDouble(text), 0.0) << text;
    EXPECT_EQ(parseDouble(nullptr), 0.0);
}

TEST(NumberParse, CorrectlyRoundedAtTheEdges)
{
    EXPECT_EQ(parseDouble("9007199254740993"), 9007199254740992.0); // tie, to even
    EXPECT_EQ(parseDouble("9007199254740995"), 9007199254740996.0);
    EXPECT_EQ(parseDouble("1.7976931348623157e308"), DBL_MAX);
    EXPECT_EQ(parseDouble("1.7976931348623158e308"), DBL_MAX);
    EXPECT_EQ(parseDouble("1.7976931348623159e308"), HUGE_VAL);
    EXPECT_EQ(parseDouble("-1e400"), -HUGE_VAL);
    EXPECT_EQ(parseDouble("2.2250738585072014e-308"), DBL_MIN);
    EXPECT_EQ(parseDouble("2.2250738585072011e-308"), std::nextafter(DBL_MIN, 0.0));
    EXPECT_EQ(parseDouble("4.9406564584124654e-324"), DBL_TRUE_MIN);
    EXPECT_EQ(parseDouble("2.4703282292062328e-324"), DBL_TRUE_MIN);
    EXPECT_EQ(parseDouble("2.4703282292062327e-324"), 0.0);
    EXPECT_EQ(parseDouble("1e-400"), 0.0);
    EXPECT_EQ(parseDouble("1e999999999999999999999"), HUGE_VAL);
}

TEST(NumberParse, DigitsBeyondTheKeptOnesStillDecideTies)
{
    const std::string tie = "9007199254740993." + std::string(900, '0');
    EXPECT_EQ(parseDouble(tie.c_str()), 9007199254740992.0);
    EXPECT_EQ(parseDouble((tie + "1").c_str()), 9007199254740994.0);
    const std::string longInteger = "9007199254740993" + std::string(900, '0') + "e-900";
    EXPECT_EQ(parseDouble(longInteger.c_str()), 9007199254740992.0);
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
