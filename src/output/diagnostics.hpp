#pragma once
// The console block that lets an operator follow the run, every 20 steps.
namespace diagnostics {

// C^-1: turns a charge density (C/cm^3) into a number density (cm^-3).
constexpr double INV_ELECTRON_CHARGE = 6.241460122187816e+18;

// Prints the block when driver::diag_flag is set or at step 1, and then also
// reads the processor time into driver::current_cpu for the run log. quiet
// leaves the block out but still reads the processor time.
void print_diagnostics(bool quiet = false);

}  // namespace diagnostics
