#pragma once
// The present voltage of every electrode, from the waveforms of "Vdata.txt".
namespace electrodes {

// V, entry e for electrode e (1 and 2 the sustain electrodes, 3 the address
// electrode); index 0 unused.
extern double electrode_voltage[41];

// Sets electrode_voltage for time t (s); dt does not change the result.
void update_electrode_voltages(double t, double dt);

void reset();

}  // namespace electrodes
