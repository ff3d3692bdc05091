// Start-up of the run-time services, the program entry around the driver, and the divide-flaw check.
#pragma once

namespace rtl {

// Prepares the run-time services once, however often it is requested: the exception context record,
// the console control handler, the floating-point environment.
void startup_initialise();

// The program entry: start-up, the outermost frame, then the driver. Should the driver return, the
// units are released and the process ends with status 0.
[[noreturn]] int run_program(void (*driver)());

using Divide = double (*)(double, double);
// Checks the processor's division on the operands that expose the known flaw; on a flawed result
// reports failure 201 unless RTL_RUN_FLAWED_FDIV is on. `divide` is a seam for tests.
void divide_flaw_check(Divide divide = nullptr);

}  // namespace rtl
