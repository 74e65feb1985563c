// vxavs native benchmark: the number reader against the C library's strtold on the same kinds of text.
// Figures only; the reader is meant to be at least as fast as strtold on each line.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../text/text_to_number.h"

namespace {

struct BenchCase {
    const char *name;
    std::string ours;    // text for TextToNumber
    std::string theirs;  // the nearest equivalent for strtold
};

std::vector<BenchCase> MakeCases() {
    std::string longDigits = "0.";
    for (int k = 0; k < 4096; ++k) longDigits += char('0' + k * 7 % 10);
    return {
        {"short_integer", "42", "42"},
        {"integer_18_digits", "-123456789012345678", "-123456789012345678"},
        {"blanks_and_junk", "  \t 65535 px", "  \t 65535 px"},
        {"decimal", "3.14159", "3.14159"},
        {"long_decimal", "3.14159265358979323846264338327950288", "3.14159265358979323846264338327950288"},
        {"decimal_4096_digits", longDigits, longDigits},
        {"exponent_small", "6.02214076e23", "6.02214076e23"},
        {"exponent_large", "1.7976931348623157e308", "1.7976931348623157e308"},
        {"exponent_negative", "-2.2250738585072014e-308", "-2.2250738585072014e-308"},
        {"exponent_subnormal", "0.123456789012345678e-4920", "0.123456789012345678e-4920"},
        {"hex_16_bit", "&HFFFF&", "0xFFFF"},
        {"hex_64_bit", "&H7FFFFFFFFFFFFFFF", "0x7FFFFFFFFFFFFFFF"},
        {"octal", "&O17777", "0x1FFF"},
    };
}

void BM_TextToNumber(benchmark::State &state, const std::string &text) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        benchmark::DoNotOptimize(TextToNumber(text));
    }
}

void BM_strtold(benchmark::State &state, const std::string &text) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(text.data());
        benchmark::DoNotOptimize(strtold(text.c_str(), nullptr));
    }
}

void BM_RoundToLow32(benchmark::State &state) {
    long double number = 2147483647.5L;
    for (auto _ : state) {
        benchmark::DoNotOptimize(number);
        benchmark::DoNotOptimize(RoundToLow32(number));
    }
}

}  // namespace

int main(int argc, char **argv) {
    static const std::vector<BenchCase> cases = MakeCases();
    for (const BenchCase &c : cases) {
        benchmark::RegisterBenchmark((std::string("TextToNumber/") + c.name).c_str(), BM_TextToNumber, c.ours);
        benchmark::RegisterBenchmark((std::string("strtold/") + c.name).c_str(), BM_strtold, c.theirs);
    }
    benchmark::RegisterBenchmark("RoundToLow32", BM_RoundToLow32);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
