// Each case is built on its own; every case but the first must fail to compile.
#include "rtl/io.h"
#include "rtl/layout.h"

#if defined(CASE_good_layout)
constexpr rtl::Layout kLayout{"(A8,4E16.8,TR2,'x',/,I6,$,1P)"};
#elif defined(CASE_bad_descriptor)
constexpr rtl::Layout kLayout{"(A8,4F16.8)"};
#elif defined(CASE_unterminated_text)
constexpr rtl::Layout kLayout{"(' lines with found)"};
#elif defined(CASE_missing_bracket)
constexpr rtl::Layout kLayout{"(A8,4E16.8"};
#elif defined(CASE_zero_width)
constexpr rtl::Layout kLayout{"(I0)"};
#elif defined(CASE_missing_digits)
constexpr rtl::Layout kLayout{"(E16)"};
#elif defined(CASE_count_mismatch)
constexpr rtl::Layout kLayout{"(I6,A)"};
void statement() { rtl::write<kLayout>(6, 1); }
#endif

int main() { return kLayout.size(); }
