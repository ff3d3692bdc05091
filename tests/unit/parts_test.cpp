// A file repaired in parts at once gives what one piece gives, or declines and leaves it to one piece:
// the same bytes, counts, first lines and verdicts, wherever a cut falls.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/driver.h"
#include "driver/parallel.h"
#include "rtl/statements/io.h"
#include "unit/test_support.h"

namespace {

// Lines of every kind but announced text records: touching numbers, a note, LF and CR LF line ends.
const std::string kStretch =
    "IDENT     1.00000000E+00  1.00000000E+00  3.00000000E+00  0.00000000E+00\n"
    "GCOORD  +2.000000000e+00-2.564999962e+01-2.935000038e+01+5.500000000e+00\r\n"
    "        a note without a header\n"
    "GNODE     1.00000000E+00  1.00000000E+00  6.00000000E+00  1.23456000E+05\n";
const std::string kTextBlock =
    "TEXT      1.00000000E+00  0.00000000E+00  2.00000000E+00  7.20000000E+01\n"
    "        Load case 1: 100-year wave\n"
    "        -1.5\n";

std::string model(std::size_t bytes, const std::string& more = "") {
  std::string m;
  while (m.size() < bytes) m += kStretch + more;
  return m;
}

struct Pass {
  quil::RepairCounts counts;
  std::string output;
};

quil::RepairOptions options_for(bool write) {
  quil::RepairOptions o;
  o.write = write;
  o.count_changes = o.step_back_in_hand = o.return_failures = o.refuse_other_formats = true;
  return o;
}

Pass one_piece(const std::string& input, bool write) {
  Pass p;
  const std::string out = test::temp_path("one.fem");
  EXPECT_EQ(test::connect_named(20, input, "OLD"), 0);
  EXPECT_EQ(test::connect_named(21, out, "REPLACE"), 0);
  quil::repair_records(20, 21, options_for(write), p.counts);
  rtl::release(20);
  rtl::release(21);
  p.output = test::read_file(out);
  std::remove(out.c_str());
  return p;
}

// Whether the parts take a file, at 2, 3 and 8 parts.
enum class Taken { always, sometimes, never };

TEST(Parts, GiveWhatOnePieceGives) {
  using enum Taken;
  const std::string m = model(40000);
  const std::size_t quarter = m.find('\n', m.size() / 4) + 1;
  std::string block = "TEXT      1.00000000E+00  0.00000000E+00  9.00000000E+02  7.20000000E+01\n";
  for (int i = 0; i < 900; ++i) block += "        a text record of a long block\n";
  const struct Row {
    const char* what;
    std::string content;
    Taken in_parts;
  } rows[] = {
      {"a model", m, always},
      // A cut inside a short block of text records declines; elsewhere the parts take the file.
      {"a model with text records", model(40000, kTextBlock), sometimes},
      {"a line of another format halfway", m.substr(0, m.size() / 2) + "  NODE  91531 -21797.0\n" + m,
       always},
      {"a lone Ctrl-Z at the end", m + "\x1a\n" + kStretch, always},
      // The lines after a lone Ctrl-Z a quarter in are not repaired: the parts after it give way.
      {"a lone Ctrl-Z a quarter in", m.substr(0, quarter) + "\x1a\r\n" + m.substr(quarter), never},
      // Text records that run on across every cut would be read as data by the next part.
      {"a block across the cuts", kTextBlock + block + m.substr(0, 200), never},
      {"no data record", std::string(30000, ' ').replace(0, 0, "        a note\n") + "\n", always},
  };
  const std::string input = test::temp_path("parts-in.fem"), output = test::temp_path("parts-out.fem");
  for (const Row& row : rows) {
    test::write_file(input, row.content);
    for (const bool write : {true, false}) {
      const Pass one = one_piece(input, write);
      for (const int parts : {2, 3, 8}) {
        SCOPED_TRACE(std::string(row.what) + (write ? ", repaired in " : ", checked in ") +
                     std::to_string(parts) + " parts");
        test::write_file(output, "");
        quil::RepairCounts counts;
        const bool taken =
            quil::repair_in_parts(input, static_cast<std::int64_t>(row.content.size()), write ? output : "",
                                  parts, options_for(write), &counts, quil::kInputUnit, quil::kOutputUnit);
        if (row.in_parts != sometimes) {
          EXPECT_EQ(taken, row.in_parts == always);
        }
        if (!taken) continue;
        EXPECT_EQ(counts.not_interface.why, one.counts.not_interface.why);
        EXPECT_EQ(counts.not_interface.line, one.counts.not_interface.line);
        // A refused file shows its verdict alone, and its output is thrown away.
        if (one.counts.not_interface.why != quil::NotInterface::no) continue;
        EXPECT_EQ(counts.records, one.counts.records);
        for (int kind = 0; kind < static_cast<int>(quil::Change::count); ++kind) {
          EXPECT_EQ(counts.changed[kind].count, one.counts.changed[kind].count) << kind;
          for (int i = 0; i < quil::kShownTouching; ++i)
            EXPECT_EQ(counts.changed[kind].first[i], one.counts.changed[kind].first[i]);
        }
        EXPECT_EQ(counts.failure, one.counts.failure);
        if (write) {
          EXPECT_TRUE(test::read_file(output) == one.output);
        }
      }
    }
  }
  std::remove(input.c_str());
  std::remove(output.c_str());
}

}  // namespace
