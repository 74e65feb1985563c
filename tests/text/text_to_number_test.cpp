// vxavs tests: the number reader and the two roundings, as boundary tables, plus texts of many megabytes.
// Results are compared exactly wherever the rule fixes the value to the last bit.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>

#include "../../text/text_to_number.h"

namespace {

const long double kOverflow = 0x1p127L;

void SetControlWord(uint16_t controlWord) { __asm__ volatile("fldcw %0" : : "m"(controlWord)); }

uint16_t StatusWord() {
    uint16_t statusWord;
    __asm__ volatile("fnstsw %0" : "=m"(statusWord));
    return statusWord;
}

void ClearExceptions() { __asm__ volatile("fnclex"); }

// 64-bit precision, round to nearest, every exception masked.
const uint16_t kExtendedMasked = 0x037F;

// The tests call the reader directly, not through an entry point that sets the x87 mode it needs.
class NumberReading : public ::testing::Test {
protected:
    void SetUp() override { SetControlWord(kExtendedMasked); }
    void TearDown() override { SetControlWord(kExtendedMasked); }
};

std::string Show(long double x) {
    unsigned char bytes[10];
    memcpy(bytes, &x, sizeof bytes);
    std::ostringstream out;
    out << std::setprecision(21) << x << " [" << std::hex << std::setfill('0');
    for (int i = 9; i >= 0; --i) out << std::setw(2) << unsigned(bytes[i]);
    out << "]";
    return out.str();
}

// A printable form of a text that may hold control characters and zero bytes.
std::string Quote(std::string_view text) {
    std::ostringstream out;
    out << '"';
    for (char c : text) {
        unsigned u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) out << c;
        else out << "\\x" << std::hex << std::setw(2) << std::setfill('0') << u << std::dec;
    }
    if (text.size() > 60) return out.str().substr(0, 60) + "...\" (" + std::to_string(text.size()) + " chars)";
    out << '"';
    return out.str();
}

struct ReadCase {
    std::string text;
    long double expected;
};

void ExpectReads(const ReadCase &c) {
    long double got = TextToNumber(c.text);
    EXPECT_TRUE(got == c.expected) << Quote(c.text) << " read " << Show(got) << ", expected " << Show(c.expected);
}

TEST_F(NumberReading, BlanksSignsAndTheEndOfTheNumber) {
    const ReadCase cases[] = {
        {"", 0},
        {"   ", 0},
        {" \t\r\n", 0},
        {"7", 7},
        {"  7", 7},
        {"\t7", 7},
        {"\r7", 7},
        {"\n7", 7},
        {" \t\r\n 7", 7},
        {"\xA0" "7", 0},  // a non-breaking space is not a blank
        {"\v7", 0},
        {"\f7", 0},
        {std::string("\0" "7", 2), 0},  // nor is a zero byte
        {std::string("42\0" "9", 4), 42},
        {"+5", 5},
        {"-5", -5},
        {"  -5", -5},
        {"- 5", 0},
        {"+-5", 0},
        {"--5", 0},
        {"-", 0},
        {"+", 0},
        {".", 0},
        {"-.", 0},
        {".e5", 0},
        {"e5", 0},
        {"-0", 0},
        {"0", 0},
        {"0.0", 0},
        {".5", 0.5L},
        {"-.5", -0.5L},
        {"+.25", 0.25L},
        {"5.", 5},
        {"1.2.3", 1.2L},
        {"12abc", 12},
        {"1,000", 1},
        {"0x10", 0},
        {"42   ", 42},
        {"42 7", 42},
        {"3.14159", 3.14159L},
        {"-273.15", -273.15L},
        {"0000000000000000000001", 1},
        {"000.000123", 0.000123L},
        {"007.50", 7.5L},
    };
    for (const ReadCase &c : cases) ExpectReads(c);
}

TEST_F(NumberReading, Exponents) {
    const ReadCase cases[] = {
        {"1e3", 1000},
        {"1E3", 1000},
        {"1d3", 1000},
        {"1D3", 1000},
        {"2.5D1", 25},
        {"1.5e+2", 150},
        {"1.5E-2", 0.015L},
        {"15e-1", 1.5L},
        {"-4.5e1", -45},
        {"1e0005", 100000},
        {"123.456e-7", 123.456e-7L},
        {"1e27", 1e27L},  // the largest power of ten that is exact
        {"1e-27", 1e-27L},
        {"123456789012345678e-27", 123456789012345678e-27L},
        {"5E", 5},
        {"5E+", 5},
        {"5E-", 5},
        {"5Ex", 5},
        {"5d+x", 5},
        {"5e 3", 5},
        {"5e+-3", 5},
        {"5ee3", 5},
        {"5e3.5", 5000},
        {"5e3e2", 5000},
        {".5e1", 5},
        {"1e", 1},
        {"0e0", 0},
        {"-0e-5", 0},
    };
    for (const ReadCase &c : cases) ExpectReads(c);
}

TEST_F(NumberReading, EighteenSignificantDigits) {
    const ReadCase cases[] = {
        {"999999999999999999", 999999999999999999.0L},
        {"-999999999999999999", -999999999999999999.0L},
        {"123456789012345678", 123456789012345678.0L},
        {"000000000000000000000123456789012345678", 123456789012345678.0L},
        {"  +100000000000000001", 100000000000000001.0L},
        // Further digits are dropped but keep their place.
        {"9999999999999999999", 9999999999999999990.0L},
        {"12345678901234567890", 12345678901234567800.0L},
        {"123456789012345678.9", 123456789012345678.0L},
        {"1234567890123456789.9", 1234567890123456780.0L},
        {"0.1234567890123456789", 0.123456789012345678L},
        {"0.000000001234567890123456789", 0.000000001234567890123456780L},
        {"1.00000000000000000999", 1.00000000000000000L},
        {"1.0000000000000000199", 1.00000000000000001L},
        {"12345678901234567890e-20", 0.123456789012345678L},
    };
    for (const ReadCase &c : cases) ExpectReads(c);
}

TEST_F(NumberReading, RadixForms) {
    const ReadCase cases[] = {
        {"&hff", 255},
        {"&HfF", 255},
        {"  &H10", 16},
        {"&H10 junk", 16},
        {"&H12G", 18},
        {"&H", 0},
        {"&", 0},
        {"&HG", 0},
        {"&8", 0},
        {"&H-1", 0},
        {"-&H10", 0},
        {"+&H10", 0},
        {"& H10", 0},
        {"&17", 15},
        {"&19", 1},
        {"&O17", 15},
        {"&o17", 15},
        {"&Q17", 15},
        {"&q17", 15},
        {"&o8", 0},
        {"&B101", 5},
        {"&b102", 2},
        {"&B", 0},
        {"&H10", 16},
        {"&H7FFF", 32767},
        {"&H8000", -32768},
        {"&HFFFF", -1},
        {"&HFFFF&", 65535},
        {"&HFFFF&x", 65535},
        {"&HFFFF &", -1},
        {"&HFFFF%", -1},
        {"&HFFFF&&", 65535},
        {"&HFFFF?", 65535},
        {"&HFFFF??", 65535},
        {"&HFFFF???", 65535},
        {"&H0FFFF", 65535},
        {"&H10000", 65536},
        {"&H7FFFFFFF", 2147483647},
        {"&H80000000", -2147483648.0L},
        {"&HFFFFFFFF", -1},
        {"&HFFFFFFFF&", -1},
        {"&HFFFFFFFF&&", 4294967295.0L},
        {"&HFFFFFFFF?", 4294967295.0L},
        {"&H0FFFFFFFF", 4294967295.0L},
        {"&H100000000", 4294967296.0L},
        {"&H1FFFFFFFF", 8589934591.0L},
        {"&H7FFFFFFFFFFFFFFF", 9223372036854775807.0L},
        {"&H8000000000000000", -9223372036854775808.0L},
        {"&H8000000000000000&&", -9223372036854775808.0L},
        {"&HFFFFFFFFFFFFFFFF", -1},
        {"&HFFFFFFFFFFFFFFFF?", 0},
        {"&H7FFFFFFFFFFFFFFF?", 9223372036854775807.0L},
        {"&H0FFFFFFFFFFFFFFFF", 18446744073709551615.0L},
        {"&H0FFFFFFFFFFFFFFFF?", 0},
        {"&H10000000000000000", 0},  // 17 digits: more than 64 bits
        {"&H10000000000000000?", 0},
        {"&H1FFFFFFFFFFFFFFFF", 0},
        {"&H123456789ABCDEF01&&", 0},
        {"&H00000000000000000000FFFF", 65535},
        {"&H0000000000000000000FFFFFFFFFFFFFFFF", 18446744073709551615.0L},
        {std::string("&H1\0" "2", 4), 1},
        {"&B" + std::string(64, '1'), -1},
        {"&B1" + std::string(64, '0'), 0},
        {"&O1" + std::string(21, '7'), -1},
        {"&O2" + std::string(21, '0'), 0},
        {"&O3" + std::string(21, '7'), 0},
    };
    for (const ReadCase &c : cases) ExpectReads(c);
}

TEST_F(NumberReading, OverflowAndUnderflow) {
    const std::string manyZeros(10000, '0');
    const std::string tenThousandAndOneDigits = "1" + manyZeros;
    const ReadCase cases[] = {
        {"1e4932", kOverflow},  // 1 integer digit + 4932 = 4933
        {"-1e4932", -kOverflow},
        {"0.5e4933", kOverflow},
        {"12e4931", kOverflow},
        {"1.18e4932", kOverflow},  // though below the largest long double
        {"1e9999", kOverflow},
        {"1e99999", kOverflow},
        {"1e99999999999999999999999", kOverflow},
        {"-1e99999999999999999999999", -kOverflow},
        {"0e4933", 0},  // zero has nothing to overflow
        {"-0.000e9999", 0},
        {"1e-4934", 0},         // 1 - 4934 = -4933
        {"0.1e-4933", 0},
        {"-0.1e-4933", 0},
        {"1e-9999", 0},
        {"1e-99999999999999999999999", 0},
        // The written exponent counts as at most 9999: 10001 integer digits - 9999 leave 2.
        {tenThousandAndOneDigits + "e-10003", 10},
        {tenThousandAndOneDigits + "e-99999999999999999999", 10},
        {"0." + manyZeros + "1", 0},
        {"0." + manyZeros + "1e9999", kOverflow},
        {tenThousandAndOneDigits, kOverflow},
    };
    for (const ReadCase &c : cases) ExpectReads(c);
}

// Beyond 10^27 the powers of ten are rounded: there the value comes after at most four roundings, so
// within 4 units in the last place (units of the smallest subnormal below the normal range).
long double UnitInLastPlace(long double x) {
    const long double smallest = std::numeric_limits<long double>::denorm_min();
    if (x == 0 || std::fabs(x) < std::numeric_limits<long double>::min()) return smallest;
    return std::ldexp(1.0L, std::ilogb(x) - 63);
}

TEST_F(NumberReading, LargePowersOfTenAreNearlyExact) {
    const ReadCase cases[] = {
        {"1e28", 1e28L},
        {"1e300", 1e300L},
        {"-1.7976931348623157e308", -1.7976931348623157e308L},
        {"123456789012345678e4000", 123456789012345678e4000L},
        {"9.99e4931", 9.99e4931L},  // 1 + 4931 = 4932: still a number
        {"0.9e4932", 0.9e4932L},
        {"1e-300", 1e-300L},
        {"1e-4000", 1e-4000L},
        {"3.4e-4932", 3.4e-4932L},
        {"1e-4932", 1e-4932L},  // subnormal
        {"1e-4933", 1e-4933L},  // 1 - 4933 = -4932: still a number
        {"0.1e-4932", 0.1e-4932L},
        {"0.01e-4932", 0.01e-4932L},
        // 10^4938 alone would be infinite: the quotient is still the true value.
        {"0.123456789012345678e-4920", 0.123456789012345678e-4920L},
        {"-0.123456789012345678e-4920", -0.123456789012345678e-4920L},
        {"0.000000000000000001e-4932", 0.000000000000000001e-4932L},
    };
    for (const ReadCase &c : cases) {
        long double got = TextToNumber(c.text);
        long double tolerance = 4 * UnitInLastPlace(c.expected);
        EXPECT_TRUE(std::fabs(got - c.expected) <= tolerance)
            << Quote(c.text) << " read " << Show(got) << ", expected " << Show(c.expected);
        EXPECT_TRUE(got != 0 || c.expected == 0) << Quote(c.text);
    }
}

struct RoundCase {
    long double number;
    int32_t toInt32;
    uint32_t toLow32;
};

// Every line: the number, RoundToInt32 of it, RoundToLow32 of it.
const RoundCase kRoundCases[] = {
    {0, 0, 0},
    {-0.0L, 0, 0},
    {std::numeric_limits<long double>::denorm_min(), 0, 0},
    {0x1.fffffffffffffffep-2L, 0, 0},  // just below 0.5
    {0.5L, 0, 0},
    {0x1.0000000000000002p-1L, 1, 1},  // just above 0.5
    {-0.5L, 0, 0},
    {1.5L, 2, 2},
    {2.5L, 2, 2},
    {3.5L, 4, 4},
    {-2.5L, -2, 0xFFFFFFFE},
    {-3.5L, -4, 0xFFFFFFFC},
    {12.5L, 12, 12},
    {13.5L, 14, 14},
    {1234.5L, 1234, 1234},
    {1235.5L, 1236, 1236},
    {-1, -1, 0xFFFFFFFF},
    {2147483647.0L, 2147483647, 0x7FFFFFFF},
    {2147483647.49L, 2147483647, 0x7FFFFFFF},
    {2147483647.5L, INT32_MIN, 0x80000000},  // rounds to 2147483648
    {2147483648.0L, INT32_MIN, 0x80000000},
    {-2147483648.0L, INT32_MIN, 0x80000000},
    {-2147483648.5L, INT32_MIN, 0x80000000},  // the tie goes to the even -2147483648
    {-2147483649.0L, INT32_MIN, 0x7FFFFFFF},
    {4294967295.0L, INT32_MIN, 0xFFFFFFFF},
    {4294967296.0L, INT32_MIN, 0},
    {4294967296.5L, INT32_MIN, 0},
    {4294967297.5L, INT32_MIN, 2},
    {-4294967295.5L, INT32_MIN, 0},
    {1e10L, INT32_MIN, 0x540BE400},
    {999999999999999999.0L, INT32_MIN, static_cast<uint32_t>(999999999999999999ULL)},
    {-999999999999999999.0L, INT32_MIN, static_cast<uint32_t>(-999999999999999999LL)},
    {9223372036854775807.0L, INT32_MIN, 0xFFFFFFFF},  // 2^63 - 1 is exact in 64 bits
    {0x1.fffffffffffffffep62L, INT32_MIN, 0},         // 2^63 - 0.5 rounds to 2^63: out of range
    {0x1.fffffffffffffffcp61L, INT32_MIN, 0},         // 2^62 - 0.5 ties to 2^62
    {0x1p63L, INT32_MIN, 0},
    {-0x1p63L, INT32_MIN, 0},
    {1e30L, INT32_MIN, 0},
    {kOverflow, INT32_MIN, 0},
    {-kOverflow, INT32_MIN, 0},
    {1e4000L, INT32_MIN, 0},
    {std::numeric_limits<long double>::infinity(), INT32_MIN, 0},
};

void ExpectRoundings(const RoundCase &c) {
    EXPECT_EQ(c.toInt32, RoundToInt32(c.number)) << Show(c.number);
    EXPECT_EQ(c.toLow32, RoundToLow32(c.number)) << Show(c.number);
}

TEST_F(NumberReading, RoundingsTieToEven) {
    for (const RoundCase &c : kRoundCases) ExpectRoundings(c);
}

TEST_F(NumberReading, RoundingsOfReadTexts) {
    const struct {
        const char *text;
        int32_t toInt32;
        uint32_t toLow32;
    } cases[] = {
        {"&HFFFF", -1, 0xFFFFFFFF},
        {"&H0FFFF", 65535, 0x0000FFFF},
        {"&HFFFFFFFF", -1, 0xFFFFFFFF},
        {"&H8000000000000000", INT32_MIN, 0},
        {"4294967296", INT32_MIN, 0},
        {"4294967295", INT32_MIN, 0xFFFFFFFF},
        {"1E10", INT32_MIN, 0x540BE400},
        {"1E30", INT32_MIN, 0},
        {"1e4932", INT32_MIN, 0},
        {"2.5", 2, 2},
        {"3.5", 4, 4},
        {"-2.5", -2, 0xFFFFFFFE},
        {"1234.5", 1234, 1234},
        {"1235.5", 1236, 1236},
        {"0.5000000000000000001", 0, 0},  // the 19th digit is dropped: a tie
        {"2147483647.5", INT32_MIN, 0x80000000},
    };
    for (const auto &c : cases) {
        long double number = TextToNumber(c.text);
        EXPECT_EQ(c.toInt32, RoundToInt32(number)) << c.text;
        EXPECT_EQ(c.toLow32, RoundToLow32(number)) << c.text;
    }
}

// The roundings must not lean on the x87 rounding control: a host may leave it at any setting.
TEST_F(NumberReading, RoundingsIgnoreTheRoundingControl) {
    for (uint16_t roundingControl = 0; roundingControl < 4; ++roundingControl) {
        SetControlWord(static_cast<uint16_t>(kExtendedMasked | roundingControl << 10));
        for (const RoundCase &c : kRoundCases) ExpectRoundings(c);
    }
}

// No out-of-range conversion reaches the x87 unit: under a host that unmasks exceptions, an invalid
// operation would trap.
TEST_F(NumberReading, NothingRaisesInvalidOperation) {
    const char *texts[] = {"1e4932", "-1e99999", "1e-99999", "&HFFFFFFFFFFFFFFFF", "&H0FFFFFFFFFFFFFFFF",
                           "0.123456789012345678e-4920", "0e4933", "12345678901234567890", "x"};
    const uint16_t kInvalidOperation = 0x0001;
    ClearExceptions();
    for (const char *text : texts) {
        long double number = TextToNumber(text);
        RoundToInt32(number);
        RoundToLow32(number);
        EXPECT_EQ(0, StatusWord() & kInvalidOperation) << text;
    }
    for (const RoundCase &c : kRoundCases) {
        RoundToInt32(c.number);
        RoundToLow32(c.number);
        EXPECT_EQ(0, StatusWord() & kInvalidOperation) << Show(c.number);
    }
    ClearExceptions();
}

// No limit on the length: 32 MiB texts are read to the end of their number by the same rule.
TEST_F(NumberReading, TextsOfManyMegabytes) {
    const size_t kSize = size_t(32) << 20;
    std::string text;
    text.reserve(kSize + 64);

    text.assign(kSize, ' ');
    text += "-12.5e1";
    ExpectReads({text, -125});

    text.assign(kSize, '\t');
    text += "&HFFFF&";
    ExpectReads({text, 65535});

    text.assign(kSize, '0');
    text += "42";
    ExpectReads({text, 42});

    text.assign(kSize, '9');
    ExpectReads({text, kOverflow});
    text += "e-99999999";  // 33554432 integer digits - 9999
    ExpectReads({text, kOverflow});

    text.assign("1.");
    text.append(kSize, '9');
    text += "e1";
    ExpectReads({text, 19.9999999999999999L});

    text.assign("-0.");
    text.append(kSize, '0');
    text += "1e4900";
    ExpectReads({text, 0});

    text.assign("5e");
    text.append(kSize, '0');
    text += "3";
    ExpectReads({text, 5000});
}

}  // namespace
