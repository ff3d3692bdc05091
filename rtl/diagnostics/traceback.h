// The traceback of a severe report.
#pragma once

#include <cstddef>

namespace rtl {

// Appends the traceback of `count` return addresses (or -1 after a failed walk), innermost first, to
// out[used..capacity); returns the new length. For a processor exception the faulting instruction comes
// first and the frames of its handling are left out.
std::size_t append_traceback(void* const* walked, int count, char* out, std::size_t used,
                             std::size_t capacity);

}  // namespace rtl
