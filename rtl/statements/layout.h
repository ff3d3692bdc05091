// Record layouts in edit-descriptor notation, turned into item lists while the program is compiled.
// A malformed layout does not build: the parser calls layout_error(), which is not constexpr.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "rtl/ascii.h"

namespace rtl {

enum class ItemKind : std::uint8_t {
  text,        // 'text'
  move_right,  // TRn
  record_end,  // /
  no_advance,  // $
  scale,       // kP
  char_field,  // A or Aw
  int_field,   // Iw
  exp_field,   // Ew.d
};

struct LayoutItem {
  ItemKind kind = ItemKind::text;
  std::int16_t width = 0;  // columns; 0 for an A field that takes the item's declared length
  std::int16_t digits = 0;
  std::int16_t value = 0;  // the n of TRn, the k of kP
  std::string_view text;

  constexpr bool is_field() const {
    return kind == ItemKind::char_field || kind == ItemKind::int_field || kind == ItemKind::exp_field;
  }
};

inline constexpr int kMaxLayoutItems = 64;

// Not constexpr on purpose: reaching it while a layout is compiled stops the build with this name in
// the compiler's message.
void layout_error(const char* why);

class Layout {
 public:
  consteval Layout(const char* notation) : Layout(std::string_view(notation)) {}
  consteval Layout(std::string_view notation) { parse(notation); }

  constexpr const LayoutItem* begin() const { return items_.data(); }
  constexpr const LayoutItem* end() const { return items_.data() + count_; }
  constexpr int size() const { return count_; }
  constexpr const LayoutItem& operator[](int i) const { return items_[i]; }
  constexpr int field_count() const {
    int n = 0;
    for (const LayoutItem& item : *this) n += item.is_field() ? 1 : 0;
    return n;
  }

 private:
  std::array<LayoutItem, kMaxLayoutItems> items_{};
  int count_ = 0;

  static constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
  static constexpr char upper(char c) { return ascii_upper(c); }

  constexpr void add(const LayoutItem& item) {
    if (count_ == kMaxLayoutItems) layout_error("layout has too many items");
    items_[count_++] = item;
  }

  // Reads an unsigned number at s[i]; returns -1 when there is none.
  static constexpr int number(std::string_view s, std::size_t& i) {
    if (i >= s.size() || !is_digit(s[i])) return -1;
    int n = 0;
    while (i < s.size() && is_digit(s[i])) {
      n = n * 10 + (s[i] - '0');
      if (n > 9999) layout_error("number in layout is too large");
      ++i;
    }
    return n;
  }

  constexpr void parse(std::string_view s) {
    std::size_t i = 0;
    auto skip_blanks = [&] {
      while (i < s.size() && s[i] == ' ') ++i;
    };
    skip_blanks();
    if (i >= s.size() || s[i] != '(') layout_error("layout must begin with '('");
    ++i;
    skip_blanks();
    if (i < s.size() && s[i] == ')') {
      ++i;
    } else {
      for (;;) {
        parse_item(s, i);
        skip_blanks();
        if (i >= s.size()) layout_error("layout lacks its closing ')'");
        if (s[i] == ')') {
          ++i;
          break;
        }
        if (s[i] != ',') layout_error("items of a layout are separated by ','");
        ++i;
        skip_blanks();
      }
    }
    skip_blanks();
    if (i != s.size()) layout_error("text after the closing ')' of a layout");
  }

  // A text, a record end or a no-advance mark at s[i], added; false when the item is none of them.
  constexpr bool parse_mark(std::string_view s, std::size_t& i) {
    const char c = s[i];
    if (c == '\'') {
      std::size_t start = ++i;
      while (i < s.size() && s[i] != '\'') ++i;
      if (i >= s.size()) layout_error("unterminated text item in layout");
      add({ItemKind::text, 0, 0, 0, s.substr(start, i - start)});
      ++i;
      return true;
    }
    if (c != '/' && c != '$') return false;
    ++i;
    add({c == '/' ? ItemKind::record_end : ItemKind::no_advance, 0, 0, 0, {}});
    return true;
  }

  // The field Aw, Iw or Ew.d whose letter has just been read.
  static constexpr LayoutItem parse_field(char letter, std::string_view s, std::size_t& i) {
    const int w = number(s, i);
    if (letter == 'A') {
      if (w == 0) layout_error("field width must be at least 1");
      return {ItemKind::char_field, static_cast<std::int16_t>(w < 0 ? 0 : w), 0, 0, {}};
    }
    if (letter == 'I') {
      if (w < 1) layout_error("Iw needs a width of at least 1");
      return {ItemKind::int_field, static_cast<std::int16_t>(w), 0, 0, {}};
    }
    if (letter != 'E') layout_error("unknown edit descriptor in layout");
    if (w < 1) layout_error("Ew.d needs a width of at least 1");
    if (i >= s.size() || s[i] != '.') layout_error("Ew.d needs '.d'");
    ++i;
    const int d = number(s, i);
    if (d < 0) layout_error("Ew.d needs its digit count d");
    if (w > 255 || d >= w) layout_error("Ew.d needs d < w <= 255");
    return {ItemKind::exp_field, static_cast<std::int16_t>(w), static_cast<std::int16_t>(d), 0, {}};
  }

  constexpr void parse_item(std::string_view s, std::size_t& i) {
    if (i >= s.size()) layout_error("layout ends inside an item");
    if (parse_mark(s, i)) return;
    const char c = s[i];
    bool negative = false;
    if (c == '-' || c == '+') {
      negative = c == '-';
      ++i;
    }
    int count = number(s, i);
    if (i >= s.size()) layout_error("layout ends inside an item");
    char letter = upper(s[i]);
    if (letter == 'P') {
      if (count < 0) layout_error("scale factor kP needs its k");
      ++i;
      add({ItemKind::scale, 0, 0, static_cast<std::int16_t>(negative ? -count : count), {}});
      return;
    }
    if (negative) layout_error("a sign stands only before a scale factor");
    if (count == 0) layout_error("repeat count must be at least 1");
    if (letter == 'T' && i + 1 < s.size() && upper(s[i + 1]) == 'R') {
      if (count >= 0) layout_error("TRn takes no repeat count");
      i += 2;
      int n = number(s, i);
      if (n < 1) layout_error("TRn needs a column count of at least 1");
      add({ItemKind::move_right, 0, 0, static_cast<std::int16_t>(n), {}});
      return;
    }
    ++i;
    const LayoutItem item = parse_field(letter, s, i);
    for (int r = 0; r < (count < 0 ? 1 : count); ++r) add(item);
  }
};

}  // namespace rtl
