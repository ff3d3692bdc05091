// Each case is built on its own; every case but the first must fail to compile.
#include "rtl/statements/io.h"
#include "rtl/statements/layout.h"

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
#elif defined(CASE_good_kinds)
constexpr rtl::Layout kLayout{"(A,1P,4E16.8)"};
constexpr rtl::Layout kSummary{"(/,I6,A,/)"};
void statement() {
  rtl::write<kLayout>(90, "GRID    ", 1.0, 2.0, 3.0, 4.0);
  rtl::write<kSummary>(6, std::int32_t{118}, " lines with found");
}
#elif defined(CASE_real_where_text_stands)
constexpr rtl::Layout kLayout{"(A,1P,4E16.8)"};
void statement() { rtl::write<kLayout>(90, 1.0, "GRID", 2.0, 3.0, 4.0); }
#elif defined(CASE_items_in_the_wrong_order)
constexpr rtl::Layout kLayout{"(/,I6,A,/)"};
void statement() { rtl::write<kLayout>(6, " lines with found", std::int32_t{118}); }
#elif defined(CASE_text_read_into_a_real)
constexpr rtl::Layout kLayout{"(A8,4E16.8)"};
void statement() {
  char name[8];
  double v = 0;
  rtl::read<kLayout>(88, rtl::Handlers{}, v, std::span<char>(name), v, v, v);
}
#elif defined(CASE_scale_in_a_read)
constexpr rtl::Layout kLayout{"(A8,1P,4E16.8)"};
void statement() {
  char name[8];
  double v = 0;
  rtl::read<kLayout>(88, rtl::Handlers{}, std::span<char>(name), v, v, v, v);
}
#endif

int main() { return kLayout.size(); }
