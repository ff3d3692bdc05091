// Switches, the failure return's handler rules, and reports built without ending the test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "rtl/ending/ending.h"
#include "rtl/run/options.h"
#include "rtl/statements/io.h"
#include "rtl/units/unit_io.h"
#include "test_support.h"

namespace {

TEST(Switches, OnAndOff) {
  struct Row {
    const char* value;
    bool on;
  } rows[] = {{"T", true},  {"true", true}, {"yes", true}, {"Y", true}, {"1", true},   {"007", true},
              {"0", false}, {"000", false}, {"no", false}, {"", false}, {"1x", false}, {" 1", false}};
  for (const Row& row : rows) {
    test::set_env("RTL_TEST_SWITCH", row.value);
    EXPECT_EQ(rtl::switch_on("RTL_TEST_SWITCH"), row.on) << '"' << row.value << '"';
    EXPECT_EQ(rtl::switch_on("rtl_test_switch"), row.on) << "names match without regard to case";
  }
  test::unset_env("RTL_TEST_SWITCH");
  EXPECT_FALSE(rtl::switch_on("RTL_TEST_SWITCH"));
}

TEST(Catalogue, ReachableMessages) {
  struct Row {
    std::uint32_t code;
    const char* text;
  } rows[] = {
      {0xC0000018, "end-of-file during read, unit %d, file %s\r\n"},
      {0xC0000026, "error during write, unit %d, file %s\r\n"},
      {0xC000002F, "write to READONLY file, unit %d, file %s\r\n"},
      {0x800000C8, "program aborting due to %s event\r\n"},
      {0xC00000C9, "floating-point divide flaw detected, please update the processor\r\n"},
  };
  for (const Row& row : rows) EXPECT_STREQ(rtl::message_template(row.code), row.text);
  EXPECT_EQ(rtl::message_template(0x80000018), nullptr);  // the lookup is on the exact code
}

// Which failures a statement's handlers cover, and the outcome it then receives.
TEST(FailureReturn, HandlerCoverage) {
  struct Row {
    std::uint32_t number;
    rtl::Handlers handlers;
    int outcome;
  } rows[] = {
      {64, {true, true}, 64},  {24, {true, true}, -1},    {24, {true, false}, -1},
      {39, {false, true}, 39}, {264, {false, true}, 264},
  };
  for (const Row& row : rows) {
    int outcome = rtl::fail(0xC0000000u | row.number, nullptr, 9, "f", row.handlers, rtl::Disposal::leave,
                            static_cast<int>(row.number));
    EXPECT_EQ(outcome, row.outcome) << row.number;
  }
}

TEST(FailureReturn, UnhandledReportsAndEnds) {
  struct Row {
    std::uint32_t code;
    rtl::Handlers handlers;
    std::string report;
    int status;  // -1: the report returns
  } rows[] = {
      {0xC0000018,
       {false, true},
       "rtl: severe (24): end-of-file during read, unit 9, file f.txt\r\r\n",
       static_cast<int>(0xC0000018)},
      {0xC0000040,
       {true, false},
       "rtl: severe (64): input conversion error, unit 9, file f.txt\r\r\n",
       static_cast<int>(0xC0000040)},
      {0xC0000999, {}, "rtl: severe (2457): Message not found\r\n", static_cast<int>(0xC0000999)},
      {0x80000040, {}, "rtl: error (64): Message not found\r\n", -1},
      {0x40000040, {}, "rtl: info (64): Message not found\r\n", -1},
      {0x00000040, {}, "rtl (64): Message not found\r\n", -1},
  };
  for (const Row& row : rows) {
    int status = -1;
    std::string err;
    {
      test::FatalRoad road;
      try {
        rtl::fail(row.code, nullptr, 9, "f.txt", row.handlers, rtl::Disposal::leave, 1);
      } catch (const test::Ended& e) {
        status = e.status;
      }
      err = road.error_output();
    }
    EXPECT_EQ(err, row.report);
    EXPECT_EQ(status, row.status);
  }
}

TEST(Reports, EventNamesFillTheTemplate) {
  std::string err;
  {
    test::FatalRoad road;
    rtl::issue_report(rtl::condition_code(rtl::Failure::control_event, rtl::Severity::error), 0,
                      "control-BREAK");
    err = road.error_output();
  }
  EXPECT_EQ(err, "rtl: error (200): program aborting due to control-BREAK event\r\r\n");
}

TEST(Reports, LogFileReceivesEveryReport) {
  std::string log = test::temp_path("log");
  test::set_env("RTL_DIAGNOSTIC_LOG_FILE", log.c_str());
  test::set_env("RTL_DISABLE_DIAGNOSTIC_DISPLAY", "yes");
  std::string err;
  {
    test::FatalRoad road;
    rtl::issue_report(0x800000C8, 0, "window-CLOSE");
    rtl::issue_report(0x800000C8, 0, "control-C");
    err = road.error_output();
  }
  test::unset_env("RTL_DIAGNOSTIC_LOG_FILE");
  test::unset_env("RTL_DISABLE_DIAGNOSTIC_DISPLAY");
  EXPECT_EQ(err, "");
  EXPECT_EQ(test::read_file(log),
            "rtl: error (200): program aborting due to window-CLOSE event\r\r\n"
            "rtl: error (200): program aborting due to control-C event\r\r\n");
  unlink(log.c_str());
}

TEST(Termination, ExitHandlerReleasesEveryUnitOnce) {
  static constexpr rtl::Layout kLine{"(A)"};
  std::string path = test::temp_path("released");
  test::set_env("RTL_UNIT60", path.c_str());
  test::set_env("RTL_BUFFERED", "1");
  rtl::write<kLine>(60, "held in the block until release");
  EXPECT_EQ(test::read_file(path), "");
  rtl::exit_handler();
  EXPECT_EQ(test::read_file(path), "held in the block until release\r\n");
  rtl::exit_handler();
  test::unset_env("RTL_UNIT60");
  test::unset_env("RTL_BUFFERED");
  unlink(path.c_str());
}

TEST(Termination, StopWritesNothingOnTheDriversRoad) {
  int status = -1;
  std::string err;
  {
    test::FatalRoad road;
    try {
      rtl::stop();
    } catch (const test::Ended& e) {
      status = e.status;
    }
    err = road.error_output();
  }
  EXPECT_EQ(status, 0);
  EXPECT_EQ(err, "");
}

}  // namespace
