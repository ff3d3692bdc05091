#include "driver/command_line.h"
#include "rtl/platform/platform.h"
#include "rtl/startup.h"

namespace {
int g_argc = 0;
char** g_argv = nullptr;
void program() { quil::command_line(g_argc, g_argv); }
}  // namespace

int main(int argc, char** argv) {
  rtl::platform::utf8_arguments(&argc, &argv);
  g_argc = argc;
  g_argv = argv;
  rtl::run_program(program);
}
