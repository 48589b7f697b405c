#pragma once
// The console block that lets an operator follow the run, every 20 steps.
namespace diagnostics {

void print_diagnostics();

}  // namespace diagnostics
