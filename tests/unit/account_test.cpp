// Files of every line a model may hold, generated at random: the check's account is the repair's.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "rtl/statements/io.h"
#include "rtl/units/connect_settings.h"
#include "unit/account_property.h"
#include "unit/test_support.h"

namespace {

// Lines in every form the pass meets: clean and touching records, numbers without a point, D and
// lower-case exponents, short, blank and long lines, a note, a line of exactly 72 columns, a Ctrl-Z.
const char* const kLines[] = {
    "GNODE     1.00000000E+00  2.00000000E+00 -3.00000000E+00  4.00000000E-01",
    "GCOORD  -2.000000000e+00-2.564999962e+01-2.935000038e+01+5.500000000e+00",
    "GNODE                  1               2               3               4",
    "GELMNT1   1.0D+00         2.0d0           3.0E0           -4.             ",
    "GNODE    1.0",
    "",
    "        a note without a header",
    "        a note of exactly seventy-two columns,                          end",
    "GNODE     1.00000000E+00  2.00000000E+00 -3.00000000E+00  4.00000000E-01   ",
    "\x1a",
};

int connect(std::int32_t unit, const std::string& path, rtl::OpenStatus status, bool input) {
  rtl::ConnectSettings settings;
  settings.status = status;
  settings.has_name = settings.exact_name = settings.return_errors = true;
  settings.drop_byte_order_mark = input;
  settings.name = path;
  return rtl::connect(unit, settings);
}

TEST(Account, TheCheckSaysAllThatARepairChanges) {
  std::mt19937 random(20261209);
  const std::string in = test::temp_path("account-in.fem"), out = test::temp_path("account-out.fem");
  const auto run = [&](bool write) {
    test::PassResult p;
    quil::RepairOptions o;
    o.write = write;
    o.count_changes = o.step_back_in_hand = o.return_failures = o.refuse_other_formats = true;
    EXPECT_EQ(connect(20, in, rtl::OpenStatus::old_file, true), 0);
    EXPECT_EQ(connect(21, out, rtl::OpenStatus::replace, false), 0);
    quil::repair_records(20, 21, o, p.counts);
    rtl::release(20);
    rtl::release(21);
    p.output = test::read_file(out);
    return p;
  };
  for (long n = 0; n < test::sweep_count(400); ++n) {
    std::string file = random() % 8 == 0 ? "\xEF\xBB\xBF" : "";
    // Mostly clean lines, so that a file often needs no repair at all.
    for (int line = 1 + random() % 6; line > 0; --line) {
      file += kLines[random() % 3 == 0 ? random() % std::size(kLines) : 0];
      file += random() % 4 == 0 ? "\n" : "\r\n";
    }
    // A last line without its line end, or with its CR alone.
    if (random() % 3 == 0) file.resize(file.size() - 1 - random() % 2);
    test::write_file(in, file);
    const char* broken = test::account_breaks(file, run);
    ASSERT_EQ(broken, nullptr) << broken << " in:\n" << file;
  }
  std::remove(in.c_str());
  std::remove(out.c_str());
}

}  // namespace
