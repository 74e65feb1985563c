// vxavs native fuzz target: properties of the number reader and the roundings that hold for every text.
// Built with libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer; a broken property aborts.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "../text/text_to_number.h"

static const long double kOverflow = 0x1p127L;

static void PrintText(std::string_view text) {
    fprintf(stderr, "text (%zu bytes): \"", text.size());
    for (size_t i = 0; i < text.size() && i < 300; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') fputc(c, stderr);
        else fprintf(stderr, "\\x%02x", c);
    }
    fprintf(stderr, text.size() > 300 ? "\"...\n" : "\"\n");
}

[[noreturn]] static void Fail(const char *property, std::string_view text, long double got, long double expected) {
    fprintf(stderr, "\nproperty broken: %s\n", property);
    PrintText(text);
    fprintf(stderr, "got      %.21Lg (%La)\nexpected %.21Lg (%La)\n", got, got, expected, expected);
    abort();
}

static void ExpectSame(const char *property, std::string_view text, long double got, long double expected) {
    if (!(got == expected)) Fail(property, text, got, expected);  // -0 and 0 count as the same
}

static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The reference rounding: rintl in the default mode (nearest, ties to even), then a plain conversion.
static void CheckRoundings(long double x, std::string_view text) {
    const int32_t toInt32 = RoundToInt32(x);
    const uint32_t toLow32 = RoundToLow32(x);
    const long double nearest = rintl(x);
    int32_t expectInt32 = INT32_MIN;
    uint32_t expectLow32 = 0;
    if (std::fabs(nearest) < 0x1p63L) {
        const int64_t n = static_cast<int64_t>(nearest);
        expectLow32 = static_cast<uint32_t>(static_cast<uint64_t>(n));
        if (n >= INT32_MIN && n <= INT32_MAX) expectInt32 = static_cast<int32_t>(n);
    }
    if (toInt32 != expectInt32 || toLow32 != expectLow32) {
        fprintf(stderr, "\nproperty broken: roundings of %.21Lg (%La)\n", x, x);
        fprintf(stderr, "RoundToInt32 %d, expected %d; RoundToLow32 0x%08x, expected 0x%08x\n", toInt32, expectInt32,
                toLow32, expectLow32);
        PrintText(text);
        abort();
    }
}

// Tails of which at least one changes the value of a text whose number is still open: digits, a point,
// exponents of either sign up to both extremes, the radix letters and the suffixes.
static const char *const kProbeTails[] = {
    "\x01", "0", "1", "7", "9", "9999", "A", "f", "H1", "o1", "b1", ".", ".5",
    "e1", "E-1", "d+1", "e9999", "e-9999", "&", "&&", "?", "%", "+1", "-1", " 1",
};

// Where the number ends is found from the outside: the shortest prefix that no probe tail can change any
// more. Whatever follows it in the text must not change the result either.
static void CheckCutAfterNumber(std::string_view text, long double whole) {
    std::string probe;
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        const std::string_view prefix = text.substr(0, cut);
        const long double prefixValue = TextToNumber(prefix);
        bool closed = true;
        for (const char *tail : kProbeTails) {
            probe.assign(prefix);
            probe += tail;
            if (!(TextToNumber(probe) == prefixValue)) {
                closed = false;
                break;
            }
        }
        if (closed) {
            ExpectSame("the text cut right after its number reads the same", text, whole, prefixValue);
            return;
        }
    }
}

// A sign, blanks and up to 18 significant digits, and nothing after them that could continue a number.
static void CheckPlainInteger(std::string_view text, long double got) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const size_t digitsStart = i;
    while (i < text.size() && text[i] == '0') ++i;
    const size_t significantStart = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    if (i == digitsStart || i - significantStart > 18) return;
    if (i < text.size() && strchr(".eEdD", text[i]) != nullptr) return;
    uint64_t value = 0;
    for (size_t k = significantStart; k < i; ++k) value = value * 10 + (text[k] - '0');
    const long double expected = static_cast<long double>(static_cast<int64_t>(value));
    ExpectSame("a plain integer of up to 18 digits reads exactly", text, got, negative ? -expected : expected);
    if (!negative) {
        CheckRoundings(got, text);
        if (RoundToLow32(got) != static_cast<uint32_t>(value)) Fail("RoundToLow32 of an integer", text, got, expected);
    }
}

// A small generator driven by the input, for texts built on purpose.
struct Bytes {
    const uint8_t *data;
    size_t size, next;
    unsigned Take() { return size == 0 ? 0 : data[next++ % size]; }
    unsigned Below(unsigned n) { return (Take() << 8 | Take()) % n; }
};

// A decimal text built on purpose, against strtold (which rounds correctly) reading the same text with
// the digits after the 18th significant one made 0: equal while the power of ten is exact, within 3 units
// in the last place beyond (4 where the division takes two steps). Blanks, signs, exponent letters and
// tails that end a number are varied; the overflow and underflow judgement is checked on its own.
static void CheckDecimalAgainstStrtold(Bytes &bytes) {
    static const char *const kBlanks[] = {"", " ", "\t\r\n "};
    static const char *const kSigns[] = {"", "-", "+"};
    static const char kExponentLetters[] = "eEdD";
    const unsigned integerDigits = bytes.Below(5) == 0 ? 0 : bytes.Below(25);
    const unsigned integerZeros = bytes.Below(4) == 0 ? bytes.Below(4) : 0;
    const unsigned fractionZeros = integerDigits == 0 ? bytes.Below(40) : 0;
    unsigned fractionDigits = bytes.Below(25);
    if (integerDigits == 0 && fractionDigits == 0) fractionDigits = 1;
    const bool point = fractionDigits > 0 || fractionZeros > 0 || bytes.Take() & 1;
    const unsigned exponentKind = bytes.Below(6);  // none, letter only, small, large, beyond the cap, letter and sign only
    int exponent = 0;
    if (exponentKind == 2) exponent = int(bytes.Below(81)) - 40;
    if (exponentKind == 3) exponent = int(bytes.Below(10001)) - 5000;
    if (exponentKind == 4) exponent = (bytes.Take() & 1 ? 1 : -1) * int(10000 + bytes.Below(3000));
    const bool negative = bytes.Below(3) == 1;

    std::string ours = kBlanks[bytes.Below(3)], theirs;
    ours += kSigns[negative ? 1 : bytes.Below(2) * 2];
    ours.append(integerZeros, '0');
    unsigned significant = 0;
    const size_t digitsAt = ours.size();
    for (unsigned k = 0; k < integerDigits; ++k, ++significant) ours += char('0' + (k == 0 ? 1 + bytes.Below(9) : bytes.Below(10)));
    if (point) ours += '.';
    ours.append(fractionZeros, '0');
    for (unsigned k = 0; k < fractionDigits; ++k) {
        const char digit = char('0' + (k == 0 && integerDigits == 0 ? 1 + bytes.Below(9) : bytes.Below(10)));
        ours += digit;
        ++significant;
    }
    theirs = ours;
    // Digits after the 18th significant one: anything in ours, 0 in the reference.
    for (size_t i = digitsAt, seen = 0; i < theirs.size(); ++i) {
        if (theirs[i] == '.' || (seen == 0 && theirs[i] == '0')) continue;
        if (++seen > 18) theirs[i] = '0';
    }
    if (exponentKind != 0) {
        ours += kExponentLetters[bytes.Below(4)];
        theirs += 'e';
        if (exponentKind == 5) {
            ours += kSigns[1 + bytes.Below(2)];
        } else if (exponentKind != 1) {
            const std::string written = (exponent < 0 ? "-" : bytes.Take() & 1 ? "+" : "") + std::to_string(std::abs(exponent));
            ours += written;
            theirs += written;
        }
    }
    // Tails that end the number for both readers.
    static const char *const kTails[] = {"", "x", ",5", " 5", "\x01", "%", "&H1", "?", ".5", "e5", "E+5"};
    const unsigned tail = bytes.Below((exponentKind == 2 || exponentKind == 3 || exponentKind == 4) ? 11 : point ? 9 : 8);
    ours += kTails[tail];
    theirs += kTails[tail];

    const long double got = TextToNumber(ours);
    const int cappedExponent = exponent > 9999 ? 9999 : exponent < -9999 ? -9999 : exponent;
    const int resultExponent = int(integerDigits) + cappedExponent;
    if (resultExponent >= 4933) return ExpectSame("decimal overflow", ours, got, negative ? -kOverflow : kOverflow);
    if (resultExponent <= -4933) return ExpectSame("decimal underflow", ours, got, 0);

    const long double reference = strtold(theirs.c_str(), nullptr);
    const unsigned keptInteger = integerDigits < 18 ? integerDigits : 18;
    const unsigned keptFraction = significant < 18 ? fractionDigits : 18 - keptInteger;
    const int scale = exponent + int(integerDigits - keptInteger) - int(fractionZeros + keptFraction);
    if (scale >= -27 && scale <= 27) return ExpectSame("exact powers of ten round correctly", ours, got, reference);
    const long double unit = std::fabs(reference) < std::numeric_limits<long double>::min()
                                 ? std::numeric_limits<long double>::denorm_min()
                                 : std::ldexp(1.0L, std::ilogb(reference) - 63);
    const int units = scale < -4932 ? 4 : 3;
    if (!(std::fabs(got - reference) <= units * unit)) Fail("within a few units in the last place of strtold", ours, got, reference);
}

static std::string Digits(uint64_t value, unsigned bitsPerDigit, bool upper) {
    std::string digits;
    do {
        digits.insert(digits.begin(), (upper ? "0123456789ABCDEF" : "0123456789abcdef")[value & ((1u << bitsPerDigit) - 1)]);
        value >>= bitsPerDigit;
    } while (value != 0);
    return digits;
}

// The sign rules look at the value, the suffix and whether the first digit is 0, never at the base or the
// letter case: one value written in every base, with the same suffix, reads the same.
static void CheckRadixFormsAgree(Bytes &bytes) {
    static const char *const kSuffixes[] = {"", "%", "&", "&&", "?", "??", "???", "x", "&x", "!"};
    uint64_t value = 0;
    for (int k = 0; k < 8; ++k) value = value << 8 | bytes.Take();
    value >>= bytes.Below(64);
    const std::string zeros(bytes.Below(2) * (1 + bytes.Below(30)), '0');
    const char *suffix = kSuffixes[bytes.Below(10)];
    const std::string hex = "&H" + zeros + Digits(value, 4, true) + suffix;
    const long double expected = TextToNumber(hex);
    const std::string forms[] = {
        "&h" + zeros + Digits(value, 4, false) + suffix, "&O" + zeros + Digits(value, 3, true) + suffix,
        "&q" + zeros + Digits(value, 3, true) + suffix,  "&B" + zeros + Digits(value, 1, true) + suffix,
        "&" + zeros + Digits(value, 3, true) + suffix,
    };
    for (const std::string &form : forms) ExpectSame("one value in every base reads the same", form, TextToNumber(form), expected);
    // One more digit than 64 bits hold, whatever the digits and the suffix.
    if (value >> 60 != 0) {
        const std::string tooLong = "&H" + Digits(value, 4, true) + "0" + suffix;
        ExpectSame("more than 64 bits read 0", tooLong, TextToNumber(tooLong), 0);
    }
}

// ---- An independent model of the "&" form, written from its rules and not from the reader: base letter,
// digits, one optional suffix, then the sign rules in their order. 128-bit arithmetic finds "more than
// 64 bits" by the value itself rather than by the reader's look at the top bits.

enum RadixSuffix { kNoSuffix, kPercent, kLong, kQuad, kUnsigned };

static long double ModelRadixValue(uint64_t value, bool firstDigitZero, RadixSuffix suffix) {
    if (suffix == kUnsigned) return value >> 63 ? 0.0L : static_cast<long double>(value);
    if (firstDigitZero) return static_cast<long double>(value);
    if (value > 0xFFFFFFFFu) return static_cast<long double>(static_cast<int64_t>(value));
    if (suffix == kQuad) return static_cast<long double>(value);
    if (value <= 0xFFFF) {
        if (suffix == kLong) return static_cast<long double>(value);
        return value >= 0x8000 ? static_cast<long double>(value) - 65536.0L : static_cast<long double>(value);
    }
    return value >= 0x80000000u ? static_cast<long double>(value) - 4294967296.0L : static_cast<long double>(value);
}

// The model's reading of a text whose first non-blank character is "&" (`at` is just after it).
static long double ModelRadixText(std::string_view text, size_t at) {
    unsigned base = 8;
    if (at < text.size()) {
        const char letter = text[at];
        if (letter == 'H' || letter == 'h') base = 16, ++at;
        else if (letter == 'O' || letter == 'o' || letter == 'Q' || letter == 'q') ++at;
        else if (letter == 'B' || letter == 'b') base = 2, ++at;
    }
    unsigned __int128 value = 0;
    bool tooLong = false;
    const size_t first = at;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        unsigned digit = 99;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit >= base) break;
        value = value * base + digit;
        if (value >> 64) tooLong = true, value &= ~uint64_t(0);  // keep going to find the end of the digits
    }
    if (at == first || tooLong) return 0;
    RadixSuffix suffix = kNoSuffix;
    if (at < text.size()) {
        if (text[at] == '%') suffix = kPercent;
        else if (text[at] == '?') suffix = kUnsigned;
        else if (text[at] == '&') suffix = at + 1 < text.size() && text[at + 1] == '&' ? kQuad : kLong;
    }
    return ModelRadixValue(static_cast<uint64_t>(value), text[first] == '0', suffix);
}

// A radix text built on purpose, so that every sign rule and every suffix is met often: values at the
// 16-, 32- and 64-bit edges, a first digit of 0 or not, any base letter, any suffix, then a tail.
static void CheckRadixAgainstModel(Bytes &bytes) {
    static const uint64_t kEdges[] = {0x7FFF, 0x8000, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu,
                                      0x100000000ULL, 0x7FFFFFFFFFFFFFFFULL, 0x8000000000000000ULL};
    static const char *const kSuffixes[] = {"", "%", "&", "&&", "?", "??", "???", "&&&", "&?", "!", "#"};
    static const char *const kTails[] = {"", "x", " 5", "&H1", "\x01", "1"};
    static const struct {
        const char *letter;
        unsigned bitsPerDigit;
    } kBases[] = {{"H", 4}, {"h", 4}, {"O", 3}, {"q", 3}, {"", 3}, {"B", 1}, {"b", 1}};
    uint64_t value;
    if (bytes.Below(2) == 0) {
        value = kEdges[bytes.Below(10)] + int(bytes.Below(5)) - 2;
    } else {
        value = 0;
        for (int k = 0; k < 8; ++k) value = value << 8 | bytes.Take();
        value >>= bytes.Below(64);
    }
    const auto &base = kBases[bytes.Below(7)];
    const bool leadingZero = bytes.Below(3) == 0;
    const unsigned suffix = bytes.Below(11);
    std::string text = "&";
    text += base.letter;
    if (leadingZero) text += '0';
    text += Digits(value, base.bitsPerDigit, bytes.Take() & 1);
    text += kSuffixes[suffix];
    text += kTails[bytes.Below(6)];
    // A tail of digits continues the number; the model reads the text as it stands.
    ExpectSame("the \"&\" form's sign rules (reference model)", text, TextToNumber(text), ModelRadixText(text, 1));
}

// A plain integer built on purpose, with blanks and a sign around it.
static void CheckBuiltInteger(Bytes &bytes) {
    uint64_t value = 0;
    for (int k = 0; k < 8; ++k) value = value << 8 | bytes.Take();
    value %= bytes.Take() & 1 ? 1000000000000000000ULL : 1ULL << (bytes.Take() % 40);
    static const char *const kBlanks[] = {"", " ", "\t", "\r\n", "  \t "};
    static const char *const kSigns[] = {"", "+", "-"};
    static const char *const kEnds[] = {"", " ", "x", ",5", "\x01", "\0"};
    const unsigned sign = bytes.Below(3);
    std::string text = kBlanks[bytes.Below(5)];
    text += kSigns[sign];
    text.append(bytes.Below(4), '0');
    text += std::to_string(value);
    const unsigned end = bytes.Below(6);
    text.append(kEnds[end], end == 5 ? 1 : strlen(kEnds[end]));
    const long double expected = static_cast<long double>(static_cast<int64_t>(value));
    const long double got = TextToNumber(text);
    ExpectSame("a built integer reads exactly", text, got, sign == 2 ? -expected : expected);
    CheckRoundings(got, text);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const long double x = TextToNumber(text);
    if (!std::isfinite(x)) Fail("the result is a finite number", text, x, 0);

    // The roundings, on the result and on values near it that make ties and halves likely.
    CheckRoundings(x, text);
    CheckRoundings(x / 2, text);
    CheckRoundings(x + 0.5L, text);
    CheckRoundings(std::ldexp(x, -int(size % 70)), text);

    // End of text and a byte that fits no number end it the same way; nothing after such a byte counts.
    std::string extended(text);
    extended += '\x01';
    extended.append(text);
    ExpectSame("bytes after a non-number byte are ignored", text, TextToNumber(extended), x);

    size_t firstNonBlank = 0;
    while (firstNonBlank < size && IsBlank(text[firstNonBlank])) ++firstNonBlank;
    if (firstNonBlank == size) ExpectSame("blanks alone read 0", text, x, 0);

    std::string blanked = " \t\r\n";
    blanked.append(text);
    ExpectSame("leading blanks are skipped", text, TextToNumber(blanked), x);

    // A sign in front of a number that starts with a digit or a point only changes the sign.
    if (firstNonBlank < size && (IsDigit(text[firstNonBlank]) || text[firstNonBlank] == '.')) {
        std::string signedText(text.substr(0, firstNonBlank));
        signedText += '-';
        signedText.append(text.substr(firstNonBlank));
        ExpectSame("a minus sign negates", text, TextToNumber(signedText), -x);
        signedText[firstNonBlank] = '+';
        ExpectSame("a plus sign changes nothing", text, TextToNumber(signedText), x);
    }

    if (firstNonBlank < size && text[firstNonBlank] == '&')
        ExpectSame("the \"&\" form's sign rules (reference model)", text, x, ModelRadixText(text, firstNonBlank + 1));
    CheckPlainInteger(text, x);
    if (size <= 128) CheckCutAfterNumber(text, x);

    Bytes bytes{data, size, 0};
    CheckBuiltInteger(bytes);
    CheckDecimalAgainstStrtold(bytes);
    CheckRadixFormsAgree(bytes);
    CheckRadixAgainstModel(bytes);
    return 0;
}
