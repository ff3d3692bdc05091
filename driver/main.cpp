#include "driver/driver.h"
#include "rtl/startup.h"

int main() { rtl::run_program(quil::driver); }
