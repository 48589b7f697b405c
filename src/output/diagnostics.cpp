#include "output/diagnostics.hpp"

#include "driver/main_program.hpp"

namespace diagnostics {

// Filled in by the output work; until then only the processor-time reading
// that the run log needs.
void print_diagnostics() {
    if (driver::diag_flag || driver::nstep == 1) driver::current_cpu = driver::processor_time();
}

}  // namespace diagnostics
