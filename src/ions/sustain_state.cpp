#include "ions/sustain_state.hpp"

#include "input/electrode_voltages.hpp"
#include "input/voltage_file.hpp"

namespace sustain_state {

double gap_potential = 0.0;
double transferable_charge = 0.0;
double transferable_density = 0.0;
int gas_node_count = 0;

// Filled in by the sustain-state work; until then only the starting voltages.
void prepare_sustain_state(int) {
    for (int e = 1; e <= voltage_file::n_electrodes; ++e)
        electrodes::electrode_voltage[e] = voltage_file::smart_start_voltage[e];
}

}  // namespace sustain_state
