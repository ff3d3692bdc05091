// The console dialogue on real files: banner, questions, refusals, devices and the summary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e/harness.h"

namespace e2e {
namespace {

const std::string kRecord = "GRID     1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00\r\n";
const std::string kRepaired = "GRID      1.00000000E+00 -2.50000000E-01  2.00000000E+02 -3.00000000E+00\r\n";

std::string dialogue_head() { return banner() + kInputPrompt; }

TEST(Dialogue, BannerAndFirstPromptComeFirst) {
  TempDir dir;
  Child child({.cwd = dir.path()});
  ASSERT_TRUE(child.wait_for_output(kInputPrompt));
  Result r = child.finish();
  EXPECT_EQ(r.out.substr(0, dialogue_head().size()), dialogue_head());
}

TEST(Dialogue, RepairsANewOutputFile) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord + "a text line\n");
  Result r = run({.input = "in.fem\nout.fem\n", .cwd = dir.path()});
  EXPECT_EQ(r.out, dialogue_head() + kOutputPrompt + summary(2));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir.file("out.fem")), kRepaired + padded("a text line", 72) + "\r\n");
}

// Every refused name is shown in full, then the same question comes again.
TEST(Dialogue, RefusedInputNamesAreAskedAgain) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  mkdir(dir.file("folder").c_str(), 0755);
  const std::string long_name(300, 'x');
  std::string long_accented = "x";
  for (int i = 0; i < 150; ++i) long_accented += "\xc3\xa9";
  struct Case {
    std::string answer;
    std::string shown;
  } cases[] = {
      {"missing.fem", "missing.fem"},
      {"", ""},
      {"folder", "folder"},
      {long_name, long_name.substr(0, 256)},
      {std::string("bad\0name", 8), std::string("bad\0name", 8)},
      {"\xe9t\xe9.fem", "\xe9t\xe9.fem"},
      {"   ", ""},
      {"\"missing.fem\"", "missing.fem"},
      {long_accented, long_accented},  // 151 characters in 301 bytes: the limit counts characters
      {long_accented + long_accented, (long_accented + long_accented).substr(0, 1 + 2 * 150 + 1 + 2 * 104)},
      // one pair of quotes goes, as a copied path has them
      {"\"'missing.fem'\"", "'missing.fem'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    Result r = run({.input = c.answer + "\nin.fem\nout.fem\n", .cwd = dir.path()});
    EXPECT_EQ(r.out, dialogue_head() + refusal(" Nonexisting file :", c.shown) + kInputPrompt +
                         kOutputPrompt + summary(1));
    EXPECT_EQ(r.status, 0);
  }
}

TEST(Dialogue, TenThousandCharacterNameIsRefusedWhole) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  std::string name(10000, 'n');
  Result r = run({.input = name + "\nin.fem\n" + name + "\nout.fem\n", .cwd = dir.path()});
  // The first 256 characters are tried for the output: a new file of that name is refused as too long.
  EXPECT_EQ(r.out, dialogue_head() + refusal(" Nonexisting file :", name) + kInputPrompt + kOutputPrompt +
                       refusal(" Cannot Open  :", name) + kOutputPrompt + summary(1));
}

TEST(Dialogue, UnreadableInputIsRefused) {
  if (!can_run_as_other_user()) GTEST_SKIP() << "cannot run the program as another user here";
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  write_file(dir.file("secret.fem"), kRecord);
  chmod(dir.file("secret.fem").c_str(), 0);
  write_file(dir.file("in.fem"), kRecord);
  chmod(dir.file("in.fem").c_str(), 0644);
  Result r = run(as_other_user({.input = "secret.fem\nin.fem\nout.fem\n", .cwd = dir.path()}));
  EXPECT_EQ(r.out, dialogue_head() + refusal(" Nonexisting file :", "secret.fem") + kInputPrompt +
                       kOutputPrompt + summary(1));
  EXPECT_EQ(r.status, 0);
}

TEST(Dialogue, ReadOnlyInputConnectsForReading) {
  if (!can_run_as_other_user()) GTEST_SKIP() << "cannot run the program as another user here";
  TempDir dir;
  chmod(dir.path().c_str(), 0777);
  write_file(dir.file("in.fem"), kRecord);
  chmod(dir.file("in.fem").c_str(), 0444);
  Result r = run(as_other_user({.input = "in.fem\nout.fem\n", .cwd = dir.path()}));
  EXPECT_EQ(r.out, dialogue_head() + kOutputPrompt + summary(1));
  EXPECT_EQ(read_file(dir.file("out.fem")), kRepaired);
  EXPECT_EQ(read_file(dir.file("in.fem")), kRecord);
}

TEST(Dialogue, NamesWithBlanksOrQuotesAroundConnect) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  for (const char* answers : {"   in.fem   \n  out.fem\n", "\"in.fem\"\n 'out.fem' \n"}) {
    Result r = run({.input = answers, .cwd = dir.path()});
    EXPECT_EQ(r.out, dialogue_head() + kOutputPrompt + summary(1));
    EXPECT_EQ(read_file(dir.file("out.fem")), kRepaired);
  }
}

TEST(Dialogue, NulOutputDiscards) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord + kRecord);
  Result r = run({.input = "in.fem\nNUL\n", .cwd = dir.path()});
  EXPECT_EQ(r.out, dialogue_head() + kOutputPrompt + summary(2));
  EXPECT_FALSE(file_exists(dir.file("NUL")));
}

TEST(Dialogue, ConAsInputReadsRecordsFromTheConsole) {
  TempDir dir;
  std::string data = "GRID     1.000000000E+00-2.500000000E-01 2.000000000E+02-3.000000000E+00\n";
  Result r = run({.input = "con\nout.fem\n" + data + data, .cwd = dir.path()});
  EXPECT_EQ(r.out, dialogue_head() + kOutputPrompt + summary(2));
  EXPECT_EQ(read_file(dir.file("out.fem")), kRepaired + kRepaired);
}

TEST(Dialogue, Unit6NamedByEnvironmentTakesEverything) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  Result r = run({.input = "in.fem\nout.fem\n", .env = {"RTL_UNIT6=console.txt"}, .cwd = dir.path()});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file(dir.file("console.txt")), dialogue_head() + kOutputPrompt + summary(1));
}

// Connecting the file being repaired for output would cut it away at the first record written.
TEST(Dialogue, OutputThatIsTheInputFileIsRefused) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  ASSERT_EQ(link(dir.file("in.fem").c_str(), dir.file("alias.fem").c_str()), 0);
  for (const std::string& same :
       std::vector<std::string>{"in.fem", "./in.fem", dir.file("in.fem"), "alias.fem", "sub/../in.fem"}) {
    SCOPED_TRACE(same);
    Result r = run({.input = "in.fem\n" + same + "\nout.fem\n", .cwd = dir.path()});
    EXPECT_EQ(r.out, dialogue_head() + kOutputPrompt + refusal(" Cannot Open  :", same) + kOutputPrompt +
                         summary(1));
    EXPECT_EQ(read_file(dir.file("in.fem")), kRecord);
    EXPECT_EQ(read_file(dir.file("out.fem")), kRepaired);
  }
}

// The same holds for the files that the console units were sent to.
TEST(Dialogue, OutputThatIsAConsoleFileIsRefused) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord);
  const std::string answers = "in.fem\nanswers.txt\nout.fem\n";
  write_file(dir.file("answers.txt"), answers);
  Result r = run({.env = {"RTL_UNIT5=answers.txt"}, .cwd = dir.path()});
  EXPECT_EQ(r.out, dialogue_head() + kOutputPrompt + refusal(" Cannot Open  :", "answers.txt") +
                       kOutputPrompt + summary(1));
  EXPECT_EQ(read_file(dir.file("answers.txt")), answers);
}

TEST(Dialogue, ExistingOutputLosesItsOldContentsOnlyWhenWritten) {
  TempDir dir;
  write_file(dir.file("in.fem"), kRecord + kRecord);
  write_file(dir.file("empty.fem"), "");
  const std::string old = "old 1\r\nold 2\r\nold 3\r\nold 4\r\nold 5 is a long line of old text\r\n";
  write_file(dir.file("out.fem"), old);
  run({.input = "in.fem\nout.fem\n", .cwd = dir.path()});
  EXPECT_EQ(read_file(dir.file("out.fem")), kRepaired + kRepaired);

  write_file(dir.file("out.fem"), old);
  Result r = run({.input = "empty.fem\nout.fem\n", .cwd = dir.path()});
  EXPECT_EQ(r.out, dialogue_head() + kOutputPrompt + summary(0));
  EXPECT_EQ(read_file(dir.file("out.fem")), old);
}

TEST(Dialogue, ClosedStandardOutputEndsWithAWriteFailure) {
  TempDir dir;
  Result r = run({.input = "in.fem\n", .cwd = dir.path(), .close_stdout = true});
  EXPECT_EQ(r.status, 38);
  EXPECT_NE(r.err.find("rtl: severe (38): error during write, unit 6, file CONOUT$\r\r\n"), std::string::npos)
      << r.err;
}

}  // namespace
}  // namespace e2e
