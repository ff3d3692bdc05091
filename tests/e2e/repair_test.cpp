// The repair pass end to end: each case compares the whole output file byte for byte.
#include <gtest/gtest.h>

#include <cstdio>

#include "e2e/harness.h"

namespace e2e {
namespace {

const std::string kZeros = "  0.00000000E+00  0.00000000E+00  0.00000000E+00  0.00000000E+00";
std::string line(const std::string& text) { return padded(text, 72) + "\r\n"; }
// A header record as the repair writes it: the name and four whole numbers.
std::string header(const std::string& name, int a, int b, int c, int d) {
  std::string record = padded(name, 8);
  for (int v : {a, b, c, d}) {
    char field[17];
    std::snprintf(field, sizeof field, "%16.8E", static_cast<double>(v));
    record += field;
  }
  return record;
}

struct Case {
  const char* what;
  std::string input;
  std::string output;
};

Result repair(const TempDir& dir, const std::string& input) {
  write_file(dir.file("in.fem"), input);
  return run({.input = "in.fem\nout.fem\n", .cwd = dir.path()});
}

int count_lines(const std::string& output) {
  int n = 0;
  for (std::size_t i = 0; (i = output.find("\r\n", i)) != std::string::npos; i += 2) ++n;
  return n;
}

TEST(Repair, Cases) {
  const Case cases[] = {
      {"the worked example: touching fields get a blank each",
       "NAME     1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00\r\n",
       "NAME      1.00000000E+00 -2.50000000E-01  2.00000000E+02 -3.00000000E+00\r\n"},
      {"an empty file", "", ""},
      {"only a name: four zero fields", "NODE\n", "NODE    " + kZeros + "\r\n"},
      {"an empty line", "\n", "        " + kZeros + "\r\n"},
      {"four numbers filling their fields completely",
       "FULL    -1.234567890E-01-9.999999999E+99-1.000000001E-10-5.555555556E+55\n",
       "FULL     -1.23456789E-01 -1.00000000+100 -1.00000000E-10 -5.55555556E+55\r\n"},
      {"a text line is copied and padded", "        LC_1 wave load\n", line("        LC_1 wave load")},
      {"a data record longer than 72 columns loses the rest",
       "LONG     1.000000000E+00 1.000000000E+00 1.000000000E+00 1.000000000E+00 EXTRA TEXT\n",
       "LONG      1.00000000E+00  1.00000000E+00  1.00000000E+00  1.00000000E+00\r\n"},
      {"a text line longer than 72 columns is cut",
       "TEXT     this line holds words and runs on well past the seventy-second column of the record\n",
       "TEXT     this line holds words and runs on well past the seventy-second \r\n"},
      {"a failing last record without a line end is copied", "NODE 1\nlast words",
       "NODE 1  " + kZeros + "\r\n" + line("last words")},
      {"a Ctrl-Z line ends the input", "NODE\n\x1a\nNODE\n", "NODE    " + kZeros + "\r\n"},
      {"a Ctrl-Z inside a longer line is data", "TEXT     \x1a\x1a\n", line("TEXT     \x1a\x1a")},
      {"commas between short numbers", "GRID    1.0,2.5,-3,4E2\n",
       "GRID      1.00000000E+00  2.50000000E+00 -3.00000000E-08  4.00000000E-06\r\n"},
      {"fields of only an exponent letter, a sign or a point read as zero",
       "ZERO                   E               -               .\n", "ZERO    " + kZeros + "\r\n"},
      {"a number too large for a double is copied", "BIG      1.0E+999\n", line("BIG      1.0E+999")},
      {"a number too small for a double reads as zero", "SMALL    1.0E-999\n", "SMALL   " + kZeros + "\r\n"},
      {"special words", "SPECIAL              NAN        INFINITY            -INF\n",
       "SPECIAL  NaN             Infinity        -Infinity        0.00000000E+00\r\n"},
      {"NAN followed by blanks is text", "NAN          NAN    \n", line("NAN          NAN")},
      {"CR LF and LF read alike, CR CR LF keeps one CR", "A\r\nB\nC\r\r\n",
       "A       " + kZeros + "\r\n" + "B       " + kZeros + "\r\n" + "C\r      " + kZeros + "\r\n"},
      {"a lone CR is data", "TEXT     one\rtwo\n", line("TEXT     one\rtwo")},
      {"NUL bytes and bytes above 0x7F are copied", std::string("bin\0\xff\x80 text", 11) + "\n",
       line(std::string("bin\0\xff\x80 text", 11))},
      {"a CR but no LF anywhere is one record", "TEXT one\rTEXT two\rTEXT three",
       line("TEXT one\rTEXT two\rTEXT three")},
      // Announced text records are copied even where they read as numbers.
      {"a text block with CR LF, ended by the end of the file",
       header("TEXT", 1, 0, 3, 72) + "\r\n        2026\r\n        1,2\r\n",
       header("TEXT", 1, 0, 3, 72) + "\r\n" + line("        2026") + line("        1,2")},
      {"a name record's block ended early by a record with a name",
       header("TDLOAD", 4, 1, 102, 100) + "\n        1\nGRID\n        7\n",
       header("TDLOAD", 4, 1, 102, 100) + "\r\n" + line("        1") + "GRID    " + kZeros + "\r\n" +
           "          7.00000000E-08  0.00000000E+00  0.00000000E+00  0.00000000E+00\r\n"},
      {"a Ctrl-Z line inside a text block ends the input",
       header("DATE", 1, 0, 3, 72) + "\n\n\x1a\n        1\n",
       header("DATE", 1, 0, 3, 72) + "\r\n" + line("")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    Result r = repair(dir, c.input);
    EXPECT_EQ(read_file(dir.file("out.fem")), c.output);
    EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(count_lines(c.output)));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
  }
}

TEST(Repair, SampleFilesByteForByte) {
  for (const char* sample : {"plate", "text-records"}) {
    SCOPED_TRACE(sample);
    TempDir dir;
    Result r = repair(dir, e2e::sample(std::string(sample) + ".fem"));
    const std::string expected = e2e::sample(std::string(sample) + ".repaired.fem");
    EXPECT_EQ(read_file(dir.file("out.fem")), expected);
    EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(count_lines(expected)));
  }
}

TEST(Repair, MoreThan999999RecordsShowAsterisks) {
  TempDir dir;
  std::string input;
  const std::string rec = "N        1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00\n";
  input.reserve(rec.size() * 1000001);
  for (int i = 0; i < 1000000; ++i) input += rec;
  Result r = repair(dir, input);
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + "\r\n****** lines with found\r\n\r\n");
  EXPECT_EQ(read_file(dir.file("out.fem")).size(), 74u * 1000000);
}

// Lines of up to the longest record (16 MiB) are read whole; a longer one is the read's failure, not
// memory taken as long as the line goes on.
TEST(Repair, HugeLinesAreReadWhole) {
  TempDir dir;
  std::string huge(16 * 1024 * 1024, 'x');
  huge.replace(0, 4, "HUGE");
  for (const char* ending : {"\nNODE\n", ""}) {
    SCOPED_TRACE(*ending ? "followed by a record" : "without any line end");
    Result r = repair(dir, huge + ending);
    std::string expected = line(huge.substr(0, 72));
    if (*ending) expected += "NODE    " + kZeros + "\r\n";
    EXPECT_EQ(read_file(dir.file("out.fem")), expected);
    EXPECT_EQ(r.status, 0);
  }
  Result r = repair(dir, huge + "x\nNODE\n");
  EXPECT_EQ(r.err.substr(0, 52), "rtl: severe (22): input record too long, unit 88, fi");
  EXPECT_EQ(r.status, 22);
}

TEST(Repair, BinaryGarbageIsCopiedLineByLine) {
  TempDir dir;
  std::string input;
  unsigned state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = state * 1103515245u + 12345u;
    input += static_cast<char>(state >> 16);
  }
  Result r = repair(dir, input);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::string out = read_file(dir.file("out.fem"));
  int records = count_lines(out);
  // Every output record is 72 characters and CR LF, one for each input line.
  EXPECT_EQ(out.size(), static_cast<std::size_t>(records) * 74);
  EXPECT_EQ(r.out, banner() + kInputPrompt + kOutputPrompt + summary(records));
}

TEST(Repair, BufferedOutputWritesTheSameBytes) {
  TempDir dir;
  std::string input = sample("plate.fem");
  write_file(dir.file("in.fem"), input);
  write_file(dir.file("out.fem"), std::string(100000, 'o'));
  Result r = run({.input = "in.fem\nout.fem\n", .env = {"RTL_BUFFERED=yes"}, .cwd = dir.path()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir.file("out.fem")), sample("plate.repaired.fem"));
}

}  // namespace
}  // namespace e2e
