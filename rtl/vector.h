// Whether the vector roads are built: SSE2 on x86-64, which every such processor has, unless the build
// asks for the word-arithmetic roads alone (QUIL_NO_VECTOR), so that those compile and are tested too.
#pragma once

#if defined(__SSE2__) && defined(__x86_64__) && !defined(QUIL_NO_VECTOR)
#define QUIL_VECTOR 1
#else
#define QUIL_VECTOR 0
#endif

#include <cstddef>
#include <cstring>
#if QUIL_VECTOR
#include <emmintrin.h>
#endif

namespace rtl {

// A short line as the record it stands for: its n bytes (at most 72) and blanks after them. The blanks go
// in sixteen at a time and the bytes by the library's copy, which for a few bytes is quicker than the
// string instructions that a copy of a bounded length becomes in place.
template <std::size_t kColumns>
inline void copy_blank_padded(char (&record)[kColumns], const char* line, std::size_t n) {
  static_assert(kColumns == 72, "the blanks go in as five stores of sixteen");
#if QUIL_VECTOR
  const __m128i blanks = _mm_set1_epi8(' ');
  _mm_storeu_si128(reinterpret_cast<__m128i*>(record), blanks);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(record + 16), blanks);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(record + 32), blanks);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(record + 48), blanks);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(record + 56), blanks);
#else
  std::memset(record, ' ', sizeof record);
#endif
  // Subtle: the length is hidden from the compiler, which would otherwise copy in place.
  const volatile std::size_t hidden = n;
  std::memcpy(record, line, hidden);
}

}  // namespace rtl
