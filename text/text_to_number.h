// vxavs: the one rule by which texts become numbers, and the two roundings to integers.
// No Windows here: this also builds natively for fuzzing and benchmarks.
#pragma once

#include <cstdint>
#include <string_view>

// Reads the number at the start of a counted text (zero bytes are ordinary characters). Never fails:
// a text without a number reads 0 and whatever follows the number is ignored. Needs the x87 unit in
// 64-bit precision; callers on Windows set it for the length of their entry point.
long double TextToNumber(std::string_view text);

// The two roundings read the number's bits: they do not depend on the x87 mode and raise no exception.

// Nearest integer, ties to even; out of the signed 32-bit range gives -2147483648.
int32_t RoundToInt32(long double number);

// Nearest integer, ties to even, as a signed 64-bit integer (0x8000000000000000 from 2^63 in
// magnitude on); the low 32 bits of it.
uint32_t RoundToLow32(long double number);
