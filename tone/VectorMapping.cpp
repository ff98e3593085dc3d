#include "tone/VectorMapping.h"

#include <emmintrin.h>

#include <array>
#include <cstring>
#include <utility>

namespace quarvel {

namespace {

// The sum of a pixel's three entries, from the low bit: level 0, level 1, level 2 (a byte
// each), luminance + 512 (20 bits), luminance shift + bias + 512 (20 bits). Each entry puts its
// level in its own byte, so only the two wide fields add up, and neither can carry into the
// next: the luminance stays below 1026 × 255 + 512 and the biased shift inside 0..2^20.
constexpr int kLumaField = 24;
constexpr int kShiftField = 44;
constexpr int64_t kShiftBias = int64_t(256) << 10;

constexpr int32_t kMaxWeightSum = 1026;

// Pixels per round: the entry sums are gathered for all of them first, then the lanes work
// through them eight at a time.
constexpr int32_t kChunk = 64;

// The four 16-bit fields of eight 64-bit sums, one vector per field.
inline void transposeFields(const uint64_t* words, __m128i field[4])
{
    const __m128i x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(words));
    const __m128i x1 = _mm_load_si128(reinterpret_cast<const __m128i*>(words + 2));
    const __m128i x2 = _mm_load_si128(reinterpret_cast<const __m128i*>(words + 4));
    const __m128i x3 = _mm_load_si128(reinterpret_cast<const __m128i*>(words + 6));
    const __m128i t0 = _mm_unpacklo_epi16(x0, x1);
    const __m128i t1 = _mm_unpackhi_epi16(x0, x1);
    const __m128i t2 = _mm_unpacklo_epi16(x2, x3);
    const __m128i t3 = _mm_unpackhi_epi16(x2, x3);
    const __m128i u0 = _mm_unpacklo_epi16(t0, t1);
    const __m128i u1 = _mm_unpackhi_epi16(t0, t1);
    const __m128i u2 = _mm_unpacklo_epi16(t2, t3);
    const __m128i u3 = _mm_unpackhi_epi16(t2, t3);
    field[0] = _mm_unpacklo_epi64(u0, u2);
    field[1] = _mm_unpackhi_epi64(u0, u2);
    field[2] = _mm_unpacklo_epi64(u1, u3);
    field[3] = _mm_unpackhi_epi64(u1, u3);
}

// Two pixels per 64-bit lane, three bytes and a zero each, into six contiguous bytes.
inline __m128i squeezePairs(__m128i v)
{
    const __m128i low = _mm_and_si128(v, _mm_set1_epi64x(0xFFFFFF));
    const __m128i high = _mm_and_si128(_mm_srli_epi64(v, 8), _mm_set1_epi64x(0xFFFFFF000000));
    return _mm_or_si128(low, high);
}

struct Constants {
    __m128i density;
    __m128i saturation;
    __m128i bandLow;
    __m128i bandHigh;
};

// Eight pixels' sums to their output bytes, as two vectors of four pixels with a zero fourth
// byte each. The levels are those of the scalar loops at every step; the comments give the
// bounds that keep each product inside a lane.
template <int S> inline void mapEight(const uint64_t* words, const Constants& k, __m128i quad[2])
{
    __m128i field[4];
    transposeFields(words, field);
    const __m128i zero = _mm_setzero_si128();
    const __m128i byteMask = _mm_set1_epi16(0xFF);
    const __m128i y = _mm_and_si128(_mm_srli_epi16(field[2], kLumaField + 10 - 32), _mm_set1_epi16(0x3FF));
    const __m128i shift = _mm_sub_epi16(_mm_srli_epi16(field[3], kShiftField + 10 - 48), _mm_set1_epi16(256));
    // -255..510.
    __m128i level[3] = {
        _mm_add_epi16(_mm_and_si128(field[0], byteMask), shift),
        _mm_add_epi16(_mm_srli_epi16(field[0], 8), shift),
        _mm_add_epi16(_mm_and_si128(field[1], byteMask), shift),
    };
    if constexpr ((S & kVectorDensity) != 0) {
        // The three levels share the shift, so the largest is at most 255 above each; times a
        // factor of -128..128.
        const __m128i top = _mm_max_epi16(_mm_max_epi16(level[0], level[1]), level[2]);
        for (__m128i& v : level) {
            const __m128i product = _mm_mullo_epi16(_mm_sub_epi16(top, v), k.density);
            const __m128i scaled = _mm_srai_epi16(_mm_add_epi16(product, _mm_set1_epi16(16)), 5);
            v = _mm_sub_epi16(top, _mm_min_epi16(_mm_max_epi16(scaled, zero), top));
        }
    }
    if constexpr ((S & kVectorSaturation) != 0) {
        // y - level is within +-510, the factor 0..64.
        for (__m128i& v : level) {
            const __m128i product = _mm_mullo_epi16(_mm_sub_epi16(y, v), k.saturation);
            v = _mm_sub_epi16(y, _mm_srai_epi16(_mm_add_epi16(product, _mm_set1_epi16(16)), 5));
        }
    }
    if constexpr ((S & kVectorContrast) != 0) {
        // Levels at or below 0 come out 0 and those at or above 255 come out 255 whatever the
        // band, so the curve is only needed on 0..255, where t × v fits 16 unsigned bits and
        // the division by 10 of at most 4579 is exact as × 6554 >> 16.
        for (__m128i& v : level) {
            const __m128i x = _mm_min_epi16(_mm_max_epi16(v, zero), byteMask);
            const __m128i t = _mm_min_epi16(_mm_max_epi16(x, k.bandLow), k.bandHigh);
            const __m128i u = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(t, x), _mm_set1_epi16(64)), 7);
            const __m128i twice = _mm_slli_epi16(_mm_add_epi16(x, _mm_slli_epi16(u, 2)), 1);
            v = _mm_mulhi_epu16(_mm_add_epi16(twice, _mm_set1_epi16(5)), _mm_set1_epi16(6554));
        }
    }
    // Saturating packs are the final clamp to 0..255.
    const __m128i redGreen = _mm_packus_epi16(level[0], level[1]);
    const __m128i blue = _mm_packus_epi16(level[2], level[2]);
    const __m128i pairs = _mm_unpacklo_epi8(redGreen, _mm_srli_si128(redGreen, 8));
    const __m128i blueZero = _mm_unpacklo_epi8(blue, zero);
    quad[0] = _mm_unpacklo_epi16(pairs, blueZero);
    quad[1] = _mm_unpackhi_epi16(pairs, blueZero);
}

inline uint64_t entrySum(const uint64_t (*word)[256], const uint8_t* q)
{
    return word[0][q[0]] + word[1][q[1]] + word[2][q[2]];
}

// Three-byte pixels: each group's 24 bytes go to a small run that is copied back at the end.
template <int S> void mapPacked(const VectorMapping& m, const Constants& k, uint8_t* pixels, int32_t count)
{
    alignas(16) uint64_t words[kChunk];
    alignas(16) uint8_t out[kChunk * 3 + 8];
    for (int32_t start = 0; start < count; start += kChunk) {
        const int32_t n = count - start < kChunk ? count - start : kChunk;
        uint8_t* p = pixels + int64_t(start) * 3;
        for (int32_t i = 0; i < n; ++i)
            words[i] = entrySum(m.word, p + 3 * i);
        const int32_t rounded = (n + 7) & ~7;
        for (int32_t i = n; i < rounded; ++i)
            words[i] = 0;
        for (int32_t i = 0; i < rounded; i += 8) {
            __m128i quad[2];
            mapEight<S>(words + i, k, quad);
            uint8_t* o = out + 3 * i;
            const __m128i first = squeezePairs(quad[0]);
            const __m128i second = squeezePairs(quad[1]);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), first);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 6), _mm_unpackhi_epi64(first, first));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 12), second);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 18), _mm_unpackhi_epi64(second, second));
        }
        std::memcpy(p, out, size_t(n) * 3);
    }
}

// Four-byte pixels: whole groups are written in place with each pixel's fourth byte kept; a
// last group of fewer than eight goes through a copy so that nothing past the pixels is read or
// written.
template <int S> void mapQuads(const VectorMapping& m, const Constants& k, uint8_t* pixels, int32_t count)
{
    const __m128i keep = _mm_set1_epi32(int32_t(0xFF000000u));
    const auto group = [&](const uint64_t* words, uint8_t* p) {
        __m128i quad[2];
        mapEight<S>(words, k, quad);
        __m128i* v = reinterpret_cast<__m128i*>(p);
        const __m128i first = _mm_or_si128(quad[0], _mm_and_si128(_mm_loadu_si128(v), keep));
        const __m128i second = _mm_or_si128(quad[1], _mm_and_si128(_mm_loadu_si128(v + 1), keep));
        _mm_storeu_si128(v, first);
        _mm_storeu_si128(v + 1, second);
    };
    alignas(16) uint64_t words[kChunk];
    for (int32_t start = 0; start < count; start += kChunk) {
        const int32_t n = count - start < kChunk ? count - start : kChunk;
        uint8_t* p = pixels + int64_t(start) * 4;
        for (int32_t i = 0; i < n; ++i)
            words[i] = entrySum(m.word, p + 4 * i);
        const int32_t whole = n & ~7;
        for (int32_t i = 0; i < whole; i += 8)
            group(words + i, p + 4 * i);
        if (whole < n) {
            alignas(16) uint8_t tail[32] = {};
            for (int32_t i = n; i < whole + 8; ++i)
                words[i] = 0;
            std::memcpy(tail, p + 4 * whole, size_t(n - whole) * 4);
            group(words + whole, tail);
            std::memcpy(p + 4 * whole, tail, size_t(n - whole) * 4);
        }
    }
}

template <int S> void mapLoop(const VectorMapping& m, uint8_t* pixels, int32_t count, int32_t channels)
{
    // Settings of stages that are off may hold anything; only the used ones are in range.
    const Constants k {
        _mm_set1_epi16(int16_t(int64_t(m.density) + 32)),
        _mm_set1_epi16(int16_t((m.saturation < -32         ? -32
                                       : m.saturation > 32 ? 32
                                                           : m.saturation)
            + 32)),
        _mm_set1_epi16(int16_t(128 - int64_t(m.span))),
        _mm_set1_epi16(int16_t(128 + int64_t(m.span))),
    };
    if (channels == 4)
        mapQuads<S>(m, k, pixels, count);
    else
        mapPacked<S>(m, k, pixels, count);
}

using Loop = void (*)(const VectorMapping&, uint8_t*, int32_t, int32_t);

template <int... S> constexpr auto makeLoops(std::integer_sequence<int, S...>)
{
    return std::array<Loop, sizeof...(S)> { &mapLoop<S>... };
}

constexpr auto kLoops = makeLoops(std::make_integer_sequence<int, 8> {});

} // namespace

bool vectorMappingApplies(const int32_t weight[3], int stages, int32_t density, int32_t span)
{
    int64_t sum = 0;
    for (int c = 0; c < 3; ++c) {
        if (weight[c] < 0)
            return false;
        sum += weight[c];
    }
    if (sum > kMaxWeightSum)
        return false;
    // Density's factor density + 32 must stay within -128..128.
    if ((stages & kVectorDensity) != 0 && (density < -160 || density > 96))
        return false;
    if ((stages & kVectorContrast) != 0 && (span < 0 || span > 128))
        return false;
    return true;
}

uint64_t packedToneWord(int channel, int32_t level, int32_t luma, int32_t shift)
{
    uint64_t word = uint64_t(uint32_t(level)) << (8 * channel);
    word += uint64_t(uint32_t(luma)) << kLumaField;
    word += uint64_t(int64_t(shift)) << kShiftField;
    if (channel == 0)
        word += (uint64_t(512) << kLumaField) + (uint64_t(kShiftBias + 512) << kShiftField);
    return word;
}

void mapPixelsVector(const VectorMapping& mapping, uint8_t* pixels, int32_t count, int32_t channels)
{
    kLoops[size_t(mapping.stages & 7)](mapping, pixels, count, channels);
}

} // namespace quarvel
