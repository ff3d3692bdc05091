// Real field decoding: the text of one numeric input field into a double, or a conversion failure.
#pragma once

#include <cstddef>

namespace rtl::convert {

enum class DecodeStatus { converted, failed };

struct Decoded {
  double value;
  DecodeStatus status;
};

// Decodes `count` bytes at `field` under a descriptor with `digits` digits after the point, scale
// factor `scale`, and blanks ignored (or read as zeros when `blanks_are_zeros`). Reads no byte outside
// the field and allocates nothing. The result is the double nearest the field's decimal value, ties to
// even; overflow is a failure, underflow is not.
Decoded decode_real(const char* field, std::size_t count, int digits, int scale,
                    bool blanks_are_zeros = false);

// A 16-column field of a data record (E16.8, no scale factor): the same value and status as
// decode_real(field, 16, 8, 0, blanks_are_zeros), by a fast path of its own for the usual fields.
Decoded decode_field_16(const char* field, bool blanks_are_zeros);

}  // namespace rtl::convert
