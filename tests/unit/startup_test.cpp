// The floating-point environment that start-up leaves, and the divide-flaw check.
#include "rtl/startup.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>

#include "rtl/convert/decode.h"
#include "rtl/convert/encode.h"
#include "rtl/platform/platform.h"
#include "test_support.h"

namespace {

// Whatever traps were on before, start-up turns them all off, and the conversions then meet NaN,
// infinities and subnormals without a trap.
TEST(Startup, FloatingPointOperationsNeverTrap) {
  test::enable_float_traps();
  rtl::startup_initialise();
  EXPECT_FALSE(test::float_traps_enabled());
  EXPECT_EQ(fegetround(), FE_TONEAREST);
  const double specials[] = {std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             0x1p-1074,
                             -0x1p-1060,
                             0x1.fffffffffffffp+1023};
  char field[16];
  for (double v : specials) rtl::convert::encode_exponential(v, field, 16, 8, 1);
  for (const char* text : {"1.0E+999", "1.0E-330", "4.9E-324", "NAN", "-INFINITY", "1.8E+308", "0.0"}) {
    rtl::convert::decode_real(text, std::char_traits<char>::length(text), 8, 0);
  }
  volatile double zero = 0.0;
  volatile double q = 1.0 / zero;
  volatile double nan = zero / zero;
  EXPECT_TRUE(std::isinf(q));
  EXPECT_TRUE(std::isnan(nan));
}

double flawed(double a, double b) { return a / b * (1 + 0x1p-40); }

TEST(Startup, DivideFlawCheck) {
  rtl::divide_flaw_check();  // a correct processor passes silently
  int status = -1;
  std::string err;
  {
    test::FatalRoad road;
    test::set_env("RTL_DISABLE_STACK_TRACE", "y");
    try {
      rtl::divide_flaw_check(flawed);
    } catch (const test::Ended& e) {
      status = e.status;
    }
    test::set_env("RTL_RUN_FLAWED_FDIV", "yes");
    rtl::divide_flaw_check(flawed);  // the switch lets a flawed processor go on
    test::unset_env("RTL_RUN_FLAWED_FDIV");
    test::unset_env("RTL_DISABLE_STACK_TRACE");
    err = road.error_output();
  }
  EXPECT_EQ(status, static_cast<int>(0xC00000C9u));
  EXPECT_EQ(err, "rtl: severe (201): floating-point divide flaw detected, please update the processor\r\r\n");
}

// A window of its own (the program alone on its console, started from the Explorer) waits for Enter
// before it closes; Wine gives a program no console of its own to show it end to end.
TEST(Startup, WindowWaitsOnlyWhenItIsTheProgramsOwn) {
  struct Row {
    unsigned programs;
    bool input_is_console, event, waits;
  } rows[] = {
      {1, true, false, true},    // started from the Explorer
      {2, true, false, false},   // a console window's shell is there too
      {0, true, false, false},   // no console at all
      {1, false, false, false},  // input redirected: a script, a pipe
      {1, true, true, false},    // the window is being closed, or control-C
  };
  for (const Row& r : rows) {
    EXPECT_EQ(rtl::platform::window_waits_for_enter(r.programs, r.input_is_console, r.event), r.waits)
        << r.programs;
  }
  // A failed run says its errorlevel before it waits.
  char text[96];
  const std::size_t n = rtl::platform::held_window_text(38, text, sizeof text);
  EXPECT_EQ(std::string(text, n), "\r\nQUIL ended with errorlevel 38.\r\nPress Enter to close this window.");
  EXPECT_EQ(rtl::platform::held_window_text(0, text, sizeof text), 35u);  // the prompt alone
}

// Patterns as a Windows user gives them: long names only, letters without regard to case, and never
// QUIL's own backups or temporary files.
TEST(Startup, WildcardsMatchLongNamesButNotQuilsOwnFiles) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } rows[] = {
      {"*.fem", "T1.FEM", true},
      {"*.fem", "x.femx", false},
      {"T?.FEM", "T12.FEM", false},
      {"model*", "model.fem", true},
      {"model*", "model.fem.orig", false},
      {"model*", "model.fem.orig.2", false},
      {"*", "model.fem.quil-1.tmp", false},
      {"*", "quil-3.tmp", false},
      {"*", "orig", true},
      {"*.tmp", "data.tmp", true},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXbY", false},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(rtl::platform::wildcard_match(r.pattern, r.name), r.matches) << r.pattern << " " << r.name;
  }
}

}  // namespace
