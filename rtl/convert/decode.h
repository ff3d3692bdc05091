// Real field decoding: the text of one numeric input field into a double, or a conversion failure.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

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

namespace detail {
// A 16-column field's value as one double, which every calling convention returns in a register: a failure
// is a signalling NaN whose two last bits say which value it stands for (1 for an infinity, 2 for a minus
// sign), a payload that no converted field has (a field reading NAN is the quiet NaN 0xFFF8000000000000).
inline constexpr std::uint64_t kFailure = 0x7FF4000000000000u;
inline double packed(Decoded d) {
  if (d.status == DecodeStatus::converted) return d.value;
  const std::uint64_t minus = std::bit_cast<std::uint64_t>(d.value) >> 63;
  return std::bit_cast<double>(kFailure | (d.value != 0.0 ? 1u : 0u) | minus << 1);
}
// The field's value and status from what its road returned; a quiet NaN without payload sends the field
// to the whole decoder.
Decoded unpacked(double packed_value, const char* field);
// The road every 16-column field takes where blanks are ignored: the byte shuffle where the machine has one.
extern double (*g_field_16)(const char* field);
}  // namespace detail

// A 16-column field of a data record (E16.8, no scale factor): the same value and status as
// decode_real(field, 16, 8, 0, blanks_are_zeros), by a fast path of its own for the usual fields.
inline Decoded decode_field_16(const char* field, bool blanks_are_zeros) {
  if (blanks_are_zeros) [[unlikely]]
    return decode_real(field, 16, 8, 0, true);
  const double value = detail::g_field_16(field);
  if (value != value) [[unlikely]]
    return detail::unpacked(value, field);
  return {value, DecodeStatus::converted};
}

}  // namespace rtl::convert
