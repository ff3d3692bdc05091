// Real field encoding: one double into an exponential output field Ew.d under a scale factor.
#pragma once

namespace rtl::convert {

enum class EncodeStatus { converted, overflowed };

// Writes exactly `width` characters at `field`: the value with correctly rounded digits (ties to even),
// right-aligned, or all asterisks when it does not fit. `exponent_digits` 0 means not given.
EncodeStatus encode_exponential(double value, char* field, int width, int digits, int scale,
                                int exponent_digits = 0, bool plus_sign = false);

// The field "1P,E16.8" of a data record: the same 16 bytes as encode_exponential(value, field, 16, 8, 1),
// by a fast path of its own for the usual values.
void encode_e16_8_scaled(double value, char* field);

}  // namespace rtl::convert
