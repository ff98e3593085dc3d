// Exact decimal conversion on a small unsigned big integer. Doubles span about 2^-1074 to 2^1024,
// so the numbers involved stay below a few thousand bits and plain schoolbook arithmetic is fast
// enough for a handful of settings per run.
#include "settings/NumberText.h"

#include <cmath>
#include <cstring>

#include <vector>

namespace quarvel {
namespace {

// Little-endian 32-bit limbs, no leading zero limbs (zero is the empty vector).
class BigNumber {
public:
    explicit BigNumber(uint64_t value)
    {
        while (value != 0) {
            limbs_.push_back(uint32_t(value));
            value >>= 32;
        }
    }

    bool isZero() const { return limbs_.empty(); }

    // this = this * factor + addend
    void multiplyAdd(uint32_t factor, uint32_t addend)
    {
        uint64_t carry = addend;
        for (uint32_t& limb : limbs_) {
            const uint64_t product = uint64_t(limb) * factor + carry;
            limb = uint32_t(product);
            carry = product >> 32;
        }
        if (carry != 0)
            limbs_.push_back(uint32_t(carry));
        trim();
    }

    void multiplyByPowerOf(uint32_t base, int64_t exponent)
    {
        // The largest power of the base (10 or 5) that still fits a limb.
        uint32_t chunk = 1;
        int chunkExponent = 0;
        while (uint64_t(chunk) * base <= 0xFFFFFFFFu) {
            chunk *= base;
            ++chunkExponent;
        }
        for (; exponent >= chunkExponent; exponent -= chunkExponent)
            multiplyAdd(chunk, 0);
        for (; exponent > 0; --exponent)
            multiplyAdd(base, 0);
    }

    void shiftLeft(int64_t bits)
    {
        if (isZero() || bits <= 0)
            return;
        const size_t whole = size_t(bits / 32);
        const unsigned part = unsigned(bits % 32);
        if (part != 0) {
            uint32_t carry = 0;
            for (uint32_t& limb : limbs_) {
                const uint32_t next = limb >> (32 - part);
                limb = (limb << part) | carry;
                carry = next;
            }
            if (carry != 0)
                limbs_.push_back(carry);
        }
        limbs_.insert(limbs_.begin(), whole, 0u);
    }

    void shiftRight(int64_t bits)
    {
        if (bits <= 0)
            return;
        const size_t whole = size_t(bits / 32);
        if (whole >= limbs_.size()) {
            limbs_.clear();
            return;
        }
        limbs_.erase(limbs_.begin(), limbs_.begin() + std::ptrdiff_t(whole));
        const unsigned part = unsigned(bits % 32);
        if (part != 0) {
            for (size_t i = 0; i < limbs_.size(); ++i) {
                const uint32_t high = i + 1 < limbs_.size() ? limbs_[i + 1] << (32 - part) : 0u;
                limbs_[i] = (limbs_[i] >> part) | high;
            }
        }
        trim();
    }

    bool testBit(int64_t bit) const
    {
        const size_t limb = size_t(bit / 32);
        return bit >= 0 && limb < limbs_.size() && ((limbs_[limb] >> (bit % 32)) & 1u) != 0;
    }

    // Whether any bit below `bit` is set.
    bool anyBitBelow(int64_t bit) const
    {
        if (bit <= 0)
            return false;
        const size_t whole = size_t(bit / 32);
        for (size_t i = 0; i < whole && i < limbs_.size(); ++i)
            if (limbs_[i] != 0)
                return true;
        const unsigned part = unsigned(bit % 32);
        return part != 0 && whole < limbs_.size() && (limbs_[whole] & ((1u << part) - 1u)) != 0;
    }

    int64_t bitLength() const
    {
        if (isZero())
            return 0;
        int64_t bits = int64_t(limbs_.size() - 1) * 32;
        for (uint32_t top = limbs_.back(); top != 0; top >>= 1)
            ++bits;
        return bits;
    }

    int compare(const BigNumber& other) const
    {
        if (limbs_.size() != other.limbs_.size())
            return limbs_.size() < other.limbs_.size() ? -1 : 1;
        for (size_t i = limbs_.size(); i-- > 0;)
            if (limbs_[i] != other.limbs_[i])
                return limbs_[i] < other.limbs_[i] ? -1 : 1;
        return 0;
    }

    // this -= other; requires this >= other.
    void subtract(const BigNumber& other)
    {
        uint32_t borrow = 0;
        for (size_t i = 0; i < limbs_.size(); ++i) {
            const uint64_t take = uint64_t(i < other.limbs_.size() ? other.limbs_[i] : 0u) + borrow;
            borrow = uint64_t(limbs_[i]) < take ? 1u : 0u;
            limbs_[i] = uint32_t(uint64_t(limbs_[i]) + (uint64_t(borrow) << 32) - take);
        }
        trim();
    }

    // this /= divisor; returns the remainder.
    uint32_t divide(uint32_t divisor)
    {
        uint64_t remainder = 0;
        for (size_t i = limbs_.size(); i-- > 0;) {
            const uint64_t current = (remainder << 32) | limbs_[i];
            limbs_[i] = uint32_t(current / divisor);
            remainder = current % divisor;
        }
        trim();
        return uint32_t(remainder);
    }

    std::string decimalDigits() const
    {
        if (isZero())
            return "0";
        BigNumber rest = *this;
        std::string reversed;
        while (!rest.isZero()) {
            uint32_t group = rest.divide(1000000000u);
            for (int i = 0; i < 9; ++i) {
                reversed.push_back(char('0' + group % 10));
                group /= 10;
            }
        }
        while (reversed.size() > 1 && reversed.back() == '0')
            reversed.pop_back();
        return std::string(reversed.rbegin(), reversed.rend());
    }

private:
    void trim()
    {
        while (!limbs_.empty() && limbs_.back() == 0)
            limbs_.pop_back();
    }

    std::vector<uint32_t> limbs_;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Halfway points between neighbouring doubles have at most 767 significant decimal digits, so
// digits beyond this many only matter as "something more than zero follows".
constexpr size_t kSignificantDigits = 800;

// Magnitudes past which the decimal exponent alone decides: at or above 10^310 is beyond the
// largest double, below 10^-324 is less than half the smallest subnormal.
constexpr int64_t kOverflowDecimalExponent = 310;
constexpr int64_t kUnderflowDecimalExponent = -324;

// Exponent digits beyond this are saturated; any larger exponent gives the same result.
constexpr int64_t kExponentLimit = 1000000000;

// Correctly rounded value of digits × 10^exponent10 (digits: no leading zeros, not empty).
double roundToDouble(const std::string& digits, int64_t exponent10)
{
    BigNumber numerator(0);
    for (const char c : digits)
        numerator.multiplyAdd(10, uint32_t(c - '0'));
    BigNumber denominator(1);
    if (exponent10 > 0)
        numerator.multiplyByPowerOf(10, exponent10);
    else
        denominator.multiplyByPowerOf(10, -exponent10);

    // Scale so that the quotient has 63 or 64 bits: value = (quotient + fraction) * 2^-scale.
    const int64_t scale = 63 - (numerator.bitLength() - denominator.bitLength());
    if (scale > 0)
        numerator.shiftLeft(scale);
    else
        denominator.shiftLeft(-scale);
    BigNumber step = denominator;
    step.shiftLeft(63);
    uint64_t quotient = 0;
    for (int bit = 63; bit >= 0; --bit) {
        if (numerator.compare(step) >= 0) {
            numerator.subtract(step);
            quotient |= uint64_t(1) << bit;
        }
        step.shiftRight(1);
    }
    const bool inexact = !numerator.isZero();

    int quotientBits = 0;
    for (uint64_t q = quotient; q != 0; q >>= 1)
        ++quotientBits;
    const int64_t leadingExponent = quotientBits - 1 - scale;
    int64_t unitExponent = leadingExponent - 52;
    if (unitExponent < -1074)
        unitExponent = -1074;
    const int64_t dropped = unitExponent + scale;

    uint64_t mantissa = 0;
    if (dropped == 64) {
        const uint64_t half = uint64_t(1) << 63;
        mantissa = (quotient > half || (quotient == half && inexact)) ? 1 : 0;
    } else if (dropped < 64) {
        mantissa = quotient >> dropped;
        const uint64_t rest = quotient & ((uint64_t(1) << dropped) - 1);
        const uint64_t half = uint64_t(1) << (dropped - 1);
        if (rest > half || (rest == half && (inexact || (mantissa & 1) != 0)))
            ++mantissa;
    }
    return std::ldexp(double(mantissa), int(unitExponent));
}

} // namespace

std::string formatInt(int32_t value)
{
    // Through 64 bits so that the most negative value has a magnitude too.
    int64_t magnitude = value < 0 ? -int64_t(value) : int64_t(value);
    char reversed[16];
    int count = 0;
    do {
        reversed[count++] = char('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::string text = value < 0 ? "-" : "";
    while (count > 0)
        text.push_back(reversed[--count]);
    return text;
}

std::string formatDouble(double value, int decimals)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    if (decimals < 0)
        decimals = 0;
    if (decimals > 20)
        decimals = 20;

    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const bool negative = (bits >> 63) != 0;
    const int biased = int((bits >> 52) & 0x7FF);
    const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
    const uint64_t mantissa = biased != 0 ? fraction | (uint64_t(1) << 52) : fraction;
    const int64_t exponent2 = int64_t(biased != 0 ? biased : 1) - 1075;

    // value * 10^decimals = mantissa * 5^decimals * 2^(exponent2 + decimals), rounded to an integer.
    BigNumber scaled(mantissa);
    scaled.multiplyByPowerOf(5, decimals);
    const int64_t shift = exponent2 + decimals;
    if (shift >= 0) {
        scaled.shiftLeft(shift);
    } else {
        const bool roundBit = scaled.testBit(-shift - 1);
        const bool sticky = scaled.anyBitBelow(-shift - 1);
        scaled.shiftRight(-shift);
        if (roundBit && (sticky || scaled.testBit(0)))
            scaled.multiplyAdd(1, 1);
    }

    std::string digits = scaled.decimalDigits();
    if (digits.size() < size_t(decimals) + 1)
        digits.insert(0, size_t(decimals) + 1 - digits.size(), '0');
    if (decimals > 0)
        digits.insert(digits.size() - size_t(decimals), 1, '.');
    return negative ? "-" + digits : digits;
}

int32_t parseInt(const char* text)
{
    if (!text)
        return 0;
    const char* p = text;
    while (isSpace(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    // Beyond 2^31 every value saturates the same way, so the magnitude stops growing there.
    const int64_t limit = int64_t(1) << 31;
    int64_t magnitude = 0;
    for (; isDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit)
            magnitude = limit;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX)
        return INT32_MAX;
    return int32_t(value);
}

double parseDouble(const char* text)
{
    if (!text)
        return 0.0;
    const char* p = text;
    while (isSpace(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;

    std::string digits; // significant digits, without leading zeros
    int64_t exponent10 = 0;
    bool anyDigit = false;
    bool droppedNonZero = false;
    for (; isDigit(*p); ++p) {
        anyDigit = true;
        if (digits.empty() && *p == '0')
            continue;
        if (digits.size() < kSignificantDigits) {
            digits.push_back(*p);
        } else {
            ++exponent10;
            droppedNonZero = droppedNonZero || *p != '0';
        }
    }
    if (*p == '.') {
        for (++p; isDigit(*p); ++p) {
            anyDigit = true;
            if (digits.empty() && *p == '0') {
                --exponent10;
            } else if (digits.size() < kSignificantDigits) {
                digits.push_back(*p);
                --exponent10;
            } else {
                droppedNonZero = droppedNonZero || *p != '0';
            }
        }
    }
    if (!anyDigit)
        return 0.0;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        const bool negativeExponent = *q == '-';
        if (*q == '-' || *q == '+')
            ++q;
        int64_t exponent = 0;
        for (; isDigit(*q); ++q)
            if (exponent < kExponentLimit)
                exponent = exponent * 10 + (*q - '0');
        exponent10 += negativeExponent ? -exponent : exponent;
    }

    const double sign = negative ? -1.0 : 1.0;
    if (digits.empty())
        return sign * 0.0;
    // A tail of dropped digits lies strictly between two candidates of the kept length; any one
    // digit more that is not zero keeps it there.
    if (droppedNonZero) {
        digits.push_back('1');
        --exponent10;
    }
    while (digits.back() == '0') {
        digits.pop_back();
        ++exponent10;
    }
    const int64_t magnitudeExponent = int64_t(digits.size()) + exponent10; // value < 10^this
    if (magnitudeExponent > kOverflowDecimalExponent)
        return sign * HUGE_VAL;
    if (magnitudeExponent < kUnderflowDecimalExponent)
        return sign * 0.0;
    return sign * roundToDouble(digits, exponent10);
}

} // namespace quarvel
