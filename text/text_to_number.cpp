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

// Any power of ten from 0 to 4932 with at most one multiplication: 10^n = 10^(n mod 27) * 10^(27 k).
// The small factors are exact (5^26 < 2^63); the compiler rounds each large one correctly. So texts whose
// power of ten stays below 10^27 read as the correctly rounded value, and the others after at most three
// roundings (two-step divisions: four), within a few units in the last of the 64 bits.
static const int kTensStep = 27;
static const long double kTensLow[kTensStep] = {
    1e0L,  1e1L,  1e2L,  1e3L,  1e4L,  1e5L,  1e6L,  1e7L,  1e8L,  1e9L,  1e10L, 1e11L, 1e12L, 1e13L,
    1e14L, 1e15L, 1e16L, 1e17L, 1e18L, 1e19L, 1e20L, 1e21L, 1e22L, 1e23L, 1e24L, 1e25L, 1e26L,
};
static const long double kTensHigh[kMaxPowerOfTen / kTensStep + 1] = {
    1e0L, 1e27L, 1e54L, 1e81L, 1e108L, 1e135L, 1e162L, 1e189L, 1e216L, 1e243L,
    1e270L, 1e297L, 1e324L, 1e351L, 1e378L, 1e405L, 1e432L, 1e459L, 1e486L, 1e513L,
    1e540L, 1e567L, 1e594L, 1e621L, 1e648L, 1e675L, 1e702L, 1e729L, 1e756L, 1e783L,
    1e810L, 1e837L, 1e864L, 1e891L, 1e918L, 1e945L, 1e972L, 1e999L, 1e1026L, 1e1053L,
    1e1080L, 1e1107L, 1e1134L, 1e1161L, 1e1188L, 1e1215L, 1e1242L, 1e1269L, 1e1296L, 1e1323L,
    1e1350L, 1e1377L, 1e1404L, 1e1431L, 1e1458L, 1e1485L, 1e1512L, 1e1539L, 1e1566L, 1e1593L,
    1e1620L, 1e1647L, 1e1674L, 1e1701L, 1e1728L, 1e1755L, 1e1782L, 1e1809L, 1e1836L, 1e1863L,
    1e1890L, 1e1917L, 1e1944L, 1e1971L, 1e1998L, 1e2025L, 1e2052L, 1e2079L, 1e2106L, 1e2133L,
    1e2160L, 1e2187L, 1e2214L, 1e2241L, 1e2268L, 1e2295L, 1e2322L, 1e2349L, 1e2376L, 1e2403L,
    1e2430L, 1e2457L, 1e2484L, 1e2511L, 1e2538L, 1e2565L, 1e2592L, 1e2619L, 1e2646L, 1e2673L,
    1e2700L, 1e2727L, 1e2754L, 1e2781L, 1e2808L, 1e2835L, 1e2862L, 1e2889L, 1e2916L, 1e2943L,
    1e2970L, 1e2997L, 1e3024L, 1e3051L, 1e3078L, 1e3105L, 1e3132L, 1e3159L, 1e3186L, 1e3213L,
    1e3240L, 1e3267L, 1e3294L, 1e3321L, 1e3348L, 1e3375L, 1e3402L, 1e3429L, 1e3456L, 1e3483L,
    1e3510L, 1e3537L, 1e3564L, 1e3591L, 1e3618L, 1e3645L, 1e3672L, 1e3699L, 1e3726L, 1e3753L,
    1e3780L, 1e3807L, 1e3834L, 1e3861L, 1e3888L, 1e3915L, 1e3942L, 1e3969L, 1e3996L, 1e4023L,
    1e4050L, 1e4077L, 1e4104L, 1e4131L, 1e4158L, 1e4185L, 1e4212L, 1e4239L, 1e4266L, 1e4293L,
    1e4320L, 1e4347L, 1e4374L, 1e4401L, 1e4428L, 1e4455L, 1e4482L, 1e4509L, 1e4536L, 1e4563L,
    1e4590L, 1e4617L, 1e4644L, 1e4671L, 1e4698L, 1e4725L, 1e4752L, 1e4779L, 1e4806L, 1e4833L,
    1e4860L, 1e4887L, 1e4914L,
};
static const int kTensHighestStep = kMaxPowerOfTen / kTensStep * kTensStep;  // 4914

static long double PowerOfTen(int n) {  // 0 <= n <= kMaxPowerOfTen
    if (n < kTensStep) return kTensLow[n];
    return kTensHigh[n / kTensStep] * kTensLow[n % kTensStep];
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

    // Zero stays zero whatever the exponent: there is nothing to overflow.
    if (mantissa == 0) return negative ? -0.0L : 0.0L;

    // Overflow and underflow are judged on the counts alone, before any arithmetic: significant integer
    // digits (leading zeros not counted, dropped ones counted) plus the written exponent.
    const int resultExponent = ClampCount(integerDigits) + writtenExponent;
    if (resultExponent >= kOverflowExponent) return negative ? -0x1p127L : 0x1p127L;
    if (resultExponent <= -kOverflowExponent) return negative ? -0.0L : 0.0L;

    // The scale is at most resultExponent - 1, so at most 4931, and
    // the product stays below 10^4932: it never overflows.
    const int droppedIntegerDigits = integerDigits > kMaxMantissaDigits ? static_cast<int>(integerDigits) - kMaxMantissaDigits : 0;
    const int scale = writtenExponent + droppedIntegerDigits - ClampCount(fractionScale);
    long double value = static_cast<long double>(static_cast<int64_t>(mantissa));
    if (scale >= 0) {
        value *= PowerOfTen(scale);
    } else if (scale >= -kMaxPowerOfTen) {
        value /= PowerOfTen(-scale);
    } else if (-scale - kTensHighestStep <= kMaxPowerOfTen) {
        // 10^-scale alone would be infinite although the quotient may still be a number: divide twice.
        value = value / PowerOfTen(-scale - kTensHighestStep) / kTensHigh[kTensHighestStep / kTensStep];
    } else {
        value = 0;  // below 10^18 / 10^9847, far under the smallest subnormal
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

    if (exponent >= 63) return false;
    uint64_t magnitude = 0;  // stays 0 below 0.5, subnormals included
    if (exponent >= -1) {
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
