#include "rtl/statements/answers_text.h"

namespace rtl {
namespace {

enum class Encoding { unknown, bytes, utf16 };
Encoding g_encoding = Encoding::unknown;
// Bytes already taken from the input and not yet handed on.
unsigned char g_pending[4];
int g_pending_at = 0, g_pending_end = 0;

platform::ReadResult read_unit(platform::Handle input, unsigned* unit) {
  unsigned char pair[2];
  for (int got = 0; got < 2;) {
    const platform::ReadResult r = platform::read(input, pair + got, 1);
    if (r.status != platform::ReadStatus::ok) return r;
    ++got;
  }
  *unit = pair[0] | (pair[1] << 8u);
  return {2, platform::ReadStatus::ok, 0};
}

void queue_utf8(unsigned c) {
  g_pending_at = 0;
  if (c < 0x80) {
    g_pending[0] = static_cast<unsigned char>(c);
    g_pending_end = 1;
  } else if (c < 0x800) {
    g_pending[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
    g_pending[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    g_pending_end = 2;
  } else if (c < 0x10000) {
    g_pending[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
    g_pending[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    g_pending[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    g_pending_end = 3;
  } else {
    g_pending[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    g_pending[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    g_pending[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    g_pending[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    g_pending_end = 4;
  }
}

// The next UTF-16 character, queued as UTF-8.
platform::ReadResult decode_character(platform::Handle input) {
  unsigned c = 0;
  platform::ReadResult r = read_unit(input, &c);
  if (r.status != platform::ReadStatus::ok) return r;
  if (c >= 0xD800 && c < 0xDC00) {
    unsigned low = 0;
    r = read_unit(input, &low);
    if (r.status != platform::ReadStatus::ok) return r;
    c = low >= 0xDC00 && low < 0xE000 ? 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00) : 0xFFFD;
  } else if (c >= 0xDC00 && c < 0xE000) {
    c = 0xFFFD;
  }
  queue_utf8(c);
  return r;
}

// Looks at the first bytes: the mark FF FE makes the input UTF-16; any other bytes are handed on as read.
platform::ReadResult take_first_bytes(platform::Handle input) {
  unsigned char first = 0, second = 0;
  platform::ReadResult r = platform::read(input, &first, 1);
  if (r.status != platform::ReadStatus::ok) return r;
  g_encoding = Encoding::bytes;
  g_pending[0] = first;
  g_pending_at = 0;
  g_pending_end = 1;
  if (first != 0xFF) return r;
  r = platform::read(input, &second, 1);
  if (r.status != platform::ReadStatus::ok) return {1, platform::ReadStatus::ok, 0};
  if (second != 0xFE) {
    g_pending[g_pending_end++] = second;
    return r;
  }
  g_encoding = Encoding::utf16;
  g_pending_end = 0;
  return decode_character(input);
}

}  // namespace

platform::ReadResult read_answer_byte(platform::Handle input, char* out) {
  if (g_pending_at == g_pending_end) {
    platform::ReadResult r;
    switch (g_encoding) {
      case Encoding::bytes:
        return platform::read(input, out, 1);
      case Encoding::unknown:
        r = take_first_bytes(input);
        break;
      case Encoding::utf16:
        r = decode_character(input);
        break;
    }
    if (r.status != platform::ReadStatus::ok) return r;
  }
  *out = static_cast<char>(g_pending[g_pending_at++]);
  return {1, platform::ReadStatus::ok, 0};
}

}  // namespace rtl
