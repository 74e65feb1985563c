// vxavs: reading a number from the start of a text (decimal or "&" radix form) and the two roundings
// that turn it into the integers handed to windows and messages.

#include "text_to_number.h"

#include <cstddef>
#include <cstring>

// Decimal texts of any length are read to the end of their number by one rule; nothing is cut at a
// fixed length. Digit counts are pointer differences (they cannot overflow) and are clamped before they
// meet the exponent; the written exponent stops growing once it passes its cap. So a text of many
// megabytes is read in one linear pass and gives the same number as its shortest equivalent.

static const int kMaxMantissaDigits = 18;  // 10^18 - 1 < 2^63: fild converts the mantissa exactly
static const int kMaxWrittenExponent = 9999;
static const int kOverflowExponent = 4933;  // decimal exponent of the result that no longer fits
static const int kMaxPowerOfTen = 4932;     // 10^4932 < LDBL_MAX < 10^4933
// Larger than any count that can still change the result (4933 + 9999 + 2 * 4932 and a margin).
static const size_t kCountCap = 1 << 20;

// Any power of ten from 0 to 4932 with at most one multiplication: 10^n = 10^(n mod 32) * 10^(32 k).
// The compiler rounds each literal correctly; up to 10^27 they are exact (5^27 < 2^63), so texts with
// a small exponent read as the correctly rounded value, and larger ones within about 1.5 ulp.
static const long double kTensLow[32] = {
    1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,  1e10L,
    1e11L, 1e12L, 1e13L, 1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L, 1e21L,
    1e22L, 1e23L, 1e24L, 1e25L, 1e26L, 1e27L, 1e28L, 1e29L, 1e30L, 1e31L,
};
static const long double kTensHigh[kMaxPowerOfTen / 32 + 1] = {
    1e0L,    1e32L,   1e64L,   1e96L,   1e128L,  1e160L,  1e192L,  1e224L,  1e256L,  1e288L,
    1e320L,  1e352L,  1e384L,  1e416L,  1e448L,  1e480L,  1e512L,  1e544L,  1e576L,  1e608L,
    1e640L,  1e672L,  1e704L,  1e736L,  1e768L,  1e800L,  1e832L,  1e864L,  1e896L,  1e928L,
    1e960L,  1e992L,  1e1024L, 1e1056L, 1e1088L, 1e1120L, 1e1152L, 1e1184L, 1e1216L, 1e1248L,
    1e1280L, 1e1312L, 1e1344L, 1e1376L, 1e1408L, 1e1440L, 1e1472L, 1e1504L, 1e1536L, 1e1568L,
    1e1600L, 1e1632L, 1e1664L, 1e1696L, 1e1728L, 1e1760L, 1e1792L, 1e1824L, 1e1856L, 1e1888L,
    1e1920L, 1e1952L, 1e1984L, 1e2016L, 1e2048L, 1e2080L, 1e2112L, 1e2144L, 1e2176L, 1e2208L,
    1e2240L, 1e2272L, 1e2304L, 1e2336L, 1e2368L, 1e2400L, 1e2432L, 1e2464L, 1e2496L, 1e2528L,
    1e2560L, 1e2592L, 1e2624L, 1e2656L, 1e2688L, 1e2720L, 1e2752L, 1e2784L, 1e2816L, 1e2848L,
    1e2880L, 1e2912L, 1e2944L, 1e2976L, 1e3008L, 1e3040L, 1e3072L, 1e3104L, 1e3136L, 1e3168L,
    1e3200L, 1e3232L, 1e3264L, 1e3296L, 1e3328L, 1e3360L, 1e3392L, 1e3424L, 1e3456L, 1e3488L,
    1e3520L, 1e3552L, 1e3584L, 1e3616L, 1e3648L, 1e3680L, 1e3712L, 1e3744L, 1e3776L, 1e3808L,
    1e3840L, 1e3872L, 1e3904L, 1e3936L, 1e3968L, 1e4000L, 1e4032L, 1e4064L, 1e4096L, 1e4128L,
    1e4160L, 1e4192L, 1e4224L, 1e4256L, 1e4288L, 1e4320L, 1e4352L, 1e4384L, 1e4416L, 1e4448L,
    1e4480L, 1e4512L, 1e4544L, 1e4576L, 1e4608L, 1e4640L, 1e4672L, 1e4704L, 1e4736L, 1e4768L,
    1e4800L, 1e4832L, 1e4864L, 1e4896L, 1e4928L,
};

static const int kTensHighestStep = kMaxPowerOfTen / 32 * 32;  // 4928

static long double PowerOfTen(int n) {  // 0 <= n <= kMaxPowerOfTen
    if (n < 32) return kTensLow[n];
    return kTensHigh[n >> 5] * kTensLow[n & 31];
}

static inline bool IsDecimalDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

static inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// 0 to 15 for a digit of base 16 in either letter case, 16 for anything else.
static inline unsigned RadixDigitValue(char c) {
    unsigned u = static_cast<unsigned char>(c);
    if (u - '0' < 10) return u - '0';
    u |= 0x20;
    if (u - 'a' < 6) return u - 'a' + 10;
    return 16;
}

static int ClampCount(size_t count) { return static_cast<int>(count < kCountCap ? count : kCountCap); }

// The text after "&". Bases are powers of two, so "needs more than 64 bits" is a look at the top bits.
static long double ReadRadixForm(const char *p, const char *end) {
    unsigned bitsPerDigit = 3;
    if (p < end) {
        switch (*p) {
        case 'H': case 'h': bitsPerDigit = 4; ++p; break;
        case 'O': case 'o': case 'Q': case 'q': ++p; break;
        case 'B': case 'b': bitsPerDigit = 1; ++p; break;
        default: break;  // base 8, and this character is the first digit
        }
    }
    const unsigned base = 1u << bitsPerDigit;
    const char *firstDigit = p;
    uint64_t value = 0;
    bool tooLong = false;
    for (unsigned digit; p < end && (digit = RadixDigitValue(*p)) < base; ++p) {
        if (value >> (64 - bitsPerDigit)) tooLong = true;
        value = value << bitsPerDigit | digit;
    }
    if (p == firstDigit) return 0;

    bool unsignedSuffix = false, longSuffix = false, quadSuffix = false;
    if (p < end) {
        if (*p == '?') {
            unsignedSuffix = true;  // "?", "??" or "???"; nothing after the suffix matters
        } else if (*p == '&') {
            if (p + 1 < end && p[1] == '&') quadSuffix = true;
            else longSuffix = true;
        }
    }
    if (tooLong) return 0;

    if (unsignedSuffix) return (value >> 63) ? 0.0L : static_cast<long double>(value);
    if (*firstDigit == '0') return static_cast<long double>(value);
    if (value > 0xFFFFFFFFu) return static_cast<long double>(static_cast<int64_t>(value));
    if (quadSuffix) return static_cast<long double>(value);
    if (value <= 0xFFFF) {
        if (!longSuffix && (value & 0x8000)) return static_cast<long double>(static_cast<int64_t>(value) - 0x10000);
        return static_cast<long double>(value);
    }
    if (value & 0x80000000u) return static_cast<long double>(static_cast<int64_t>(value) - 0x100000000);
    return static_cast<long double>(value);
}

long double TextToNumber(std::string_view text) {
    const char *p = text.data();
    const char *const end = p + text.size();
    while (p < end && IsBlank(*p)) ++p;
    if (p == end) return 0;
    if (*p == '&') return ReadRadixForm(p + 1, end);

    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }

    // The mantissa: at most 18 significant digits, exact. Leading zeros are skipped and not counted;
    // integer digits beyond the 18 still count towards the magnitude, fraction digits beyond them not.
    uint64_t mantissa = 0;
    int kept = 0;
    const char *const mantissaStart = p;
    while (p < end && *p == '0') ++p;
    const char *const integerStart = p;
    for (; p < end && IsDecimalDigit(*p) && kept < kMaxMantissaDigits; ++p, ++kept) mantissa = mantissa * 10 + (*p - '0');
    while (p < end && IsDecimalDigit(*p)) ++p;
    const size_t integerDigits = p - integerStart;  // significant ones, dropped included
    size_t fractionScale = 0;                       // fraction digits that place the mantissa's last digit
    bool sawPoint = false;
    if (p < end && *p == '.') {
        sawPoint = true;
        const char *const fractionStart = ++p;
        if (mantissa == 0)
            while (p < end && *p == '0') ++p;
        for (; p < end && IsDecimalDigit(*p) && kept < kMaxMantissaDigits; ++p, ++kept) mantissa = mantissa * 10 + (*p - '0');
        fractionScale = p - fractionStart;
        while (p < end && IsDecimalDigit(*p)) ++p;
    }
    if (p - mantissaStart == (sawPoint ? 1 : 0)) return 0;  // a lone point, or nothing at all

    int writtenExponent = 0;
    if (p < end && ((*p | 0x20) == 'e' || (*p | 0x20) == 'd')) {
        bool exponentNegative = false;
        if (++p < end && (*p == '+' || *p == '-')) exponentNegative = *p++ == '-';
        for (; p < end && IsDecimalDigit(*p); ++p)
            if (writtenExponent <= kMaxWrittenExponent) writtenExponent = writtenExponent * 10 + (*p - '0');
        if (writtenExponent > kMaxWrittenExponent) writtenExponent = kMaxWrittenExponent;
        if (exponentNegative) writtenExponent = -writtenExponent;
    }

    // Overflow and underflow are judged on the counts alone, before any arithmetic, so a zero mantissa
    // with a huge exponent overflows too.
    const int resultExponent = ClampCount(integerDigits) + writtenExponent;
    if (resultExponent >= kOverflowExponent) return negative ? -0x1p127L : 0x1p127L;
    if (resultExponent <= -kOverflowExponent) return negative ? -0.0L : 0.0L;

    // The scale is at most resultExponent - 1 (or exactly it with a zero mantissa), so at most 4932.
    const int droppedIntegerDigits = integerDigits > kMaxMantissaDigits ? static_cast<int>(integerDigits) - kMaxMantissaDigits : 0;
    const int scale = writtenExponent + droppedIntegerDigits - ClampCount(fractionScale);
    long double value = static_cast<long double>(static_cast<int64_t>(mantissa));
    if (scale >= 0) {
        value *= PowerOfTen(scale);
    } else if (scale >= -kMaxPowerOfTen) {
        value /= PowerOfTen(-scale);
    } else if (-scale - kTensHighestStep <= kMaxPowerOfTen) {
        // 10^-scale alone would be infinite although the quotient may still be a number: divide twice.
        // Whenever the quotient is normal the first power is below 10^28, so both powers are exact or
        // one correct rounding away, and the result stays as close as with a single division.
        value = value / PowerOfTen(-scale - kTensHighestStep) / kTensHigh[kTensHighestStep / 32];
    } else {
        value = 0;  // below 10^18 / 10^9860, far under the smallest subnormal
    }
    return negative ? -value : value;
}

// Both roundings work on the bits of the 80-bit number, with integer arithmetic only: the result does not
// depend on the x87 rounding mode, and no out-of-range conversion raises an invalid-operation exception.
// Returns false when the rounded magnitude is 2^63 or more (or for infinities and NaNs).
static bool RoundToInt64(long double number, int64_t *rounded) {
    unsigned char bytes[10];  // 64-bit significand with its explicit leading bit, then sign and exponent
    memcpy(bytes, &number, sizeof bytes);
    uint64_t significand;
    memcpy(&significand, bytes, 8);
    const unsigned signAndExponent = bytes[8] | bytes[9] << 8;
    const bool negative = (signAndExponent & 0x8000) != 0;
    const int exponent = static_cast<int>(signAndExponent & 0x7FFF) - 16383;  // number = significand * 2^(exponent - 63)

    uint64_t magnitude;
    if (exponent >= 63) {
        return false;
    } else if (exponent < -1) {
        magnitude = 0;  // below 0.5, subnormals included
    } else {
        const unsigned shift = static_cast<unsigned>(63 - exponent);  // 1 to 64
        const uint64_t half = uint64_t(1) << (shift - 1);
        const uint64_t fraction = shift == 64 ? significand : significand & ((uint64_t(1) << shift) - 1);
        magnitude = shift == 64 ? 0 : significand >> shift;
        if (fraction > half || (fraction == half && (magnitude & 1))) ++magnitude;
    }
    if (magnitude >> 63) return false;  // -2^63 comes out the same: 0x8000000000000000
    *rounded = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

int32_t RoundToInt32(long double number) {
    int64_t rounded;
    if (!RoundToInt64(number, &rounded) || rounded < INT32_MIN || rounded > INT32_MAX) return INT32_MIN;
    return static_cast<int32_t>(rounded);
}

uint32_t RoundToLow32(long double number) {
    int64_t rounded;
    if (!RoundToInt64(number, &rounded)) return 0;  // low half of 0x8000000000000000
    return static_cast<uint32_t>(static_cast<uint64_t>(rounded));
}
