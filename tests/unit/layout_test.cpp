// The layout notation compiled while the program builds.
#include "rtl/statements/layout.h"

#include <gtest/gtest.h>

#include "driver/layouts.h"

namespace {

using rtl::ItemKind;

// One letter per item: t text, > move, / record end, $ no advance, p scale, a A, i I, e E.
std::string shape(const rtl::Layout& layout) {
  std::string s;
  for (const rtl::LayoutItem& item : layout) s += "t>/$paie"[static_cast<int>(item.kind)];
  return s;
}

TEST(Layout, NotationBecomesItems) {
  struct Row {
    rtl::Layout layout;
    const char* shape;
  };
  static constexpr Row rows[] = {
      {"()", ""},
      {"(A)", "a"},
      {"(' ',A,$)", "ta$"},
      {"(A8,4E16.8)", "aeeee"},  // a repeat count stands for that many copies
      {"(A,1P,4E16.8)", "apeeee"},
      {"(/,I6,A,/)", "/ia/"},
      {"( TR5 , 'x' )", ">t"},  // blanks between items are not significant
      {"(a8,2e16.8,-2p,i3)", "aeepi"},
  };
  for (const Row& row : rows) EXPECT_EQ(shape(row.layout), row.shape);
}

TEST(Layout, ItemsKeepTheirParameters) {
  static constexpr rtl::Layout layout{"(TR10,'STATUS =',A7,-3P,E16.8,I5,A)"};
  EXPECT_EQ(layout[0].value, 10);
  EXPECT_EQ(layout[1].text, "STATUS =");
  EXPECT_EQ(layout[2].width, 7);
  EXPECT_EQ(layout[3].value, -3);
  EXPECT_EQ(layout[4].width, 16);
  EXPECT_EQ(layout[4].digits, 8);
  EXPECT_EQ(layout[5].width, 5);
  EXPECT_EQ(layout[6].width, 0);  // A without a width takes the item's length
  EXPECT_EQ(layout.field_count(), 4);
}

// Subtle: a text item keeps its trailing blanks; they are columns of the record.
TEST(Layout, TextKeepsItsBlanks) {
  static constexpr rtl::Layout layout{"('FILE  ',A)"};
  EXPECT_EQ(layout[0].text, "FILE  ");
}

}  // namespace
