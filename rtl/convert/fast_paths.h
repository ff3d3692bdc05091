// The fast stages in front of the exact conversions. Each answers only when it can prove its result
// and otherwise leaves the value to the standard library; they are declared here so that tests and
// fuzzing can hold them against the exact conversions.
#pragma once

#include <cstdint>

namespace rtl::convert {

// The double nearest w * 10^q, ties to even, when the 128-bit product proves it and it is a normal
// double; false (and *out untouched) otherwise.
bool product_to_double(std::uint64_t w, long q, double* out);

// The n (1 to 17) correctly rounded significant digits of a positive finite double, ties to even, as an
// integer, with the exponent X of 0.D1...Dn * 10^X, when the 128-bit product proves them.
bool fast_digits(double magnitude, int n, std::uint64_t* digits, int* exponent);

// The data record's writer's own stage: the nine correctly rounded significant digits of a positive
// normal double, ties to even, and the exponent P of D.DDDDDDDD * 10^P, when one 64-bit product proves
// them (the whole product where it must); false otherwise, subnormals included.
bool field_digits(double magnitude, std::uint32_t* digits, int* exponent);

// The data record's writer's first stage: the same digits and exponent as field_digits, by one product
// with the value's binade's multiplier, where that proves them; false otherwise (near ties, a carry into a
// tenth digit, zero, subnormals).
bool binade_digits(double magnitude, std::uint32_t* digits, int* exponent);

// Whether 16-column fields gather their digits with the byte shuffle, where the machine has one (the
// default); tests turn it off to hold the two roads against each other.
void use_digit_shuffle(bool on);

}  // namespace rtl::convert
