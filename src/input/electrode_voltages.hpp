#pragma once
// The present voltage of every electrode, from the waveforms of "Vdata.txt".
namespace electrodes {

// V, entry e for electrode e (1 and 2 the sustain electrodes, 3 the address
// electrode); index 0 unused.
extern double electrode_voltage[41];

// Sets electrode_voltage for time t (s); dt does not change the result.
void update_electrode_voltages(double t, double dt);

// The largest size the sine or the meander term of electrode e can reach, as
// the formulas here compute it, over the times the wave is added (inside its
// window and the table's time range); +infinity or NaN where they would not
// give a finite value, 0 when the wave is never on. From the values read.
double largest_sine_term(int e);
double largest_meander_term(int e);

void reset();

}  // namespace electrodes
