#pragma once
// Start-of-run wall charges: those under which the gas gap is free of field
// at the Smart Start voltages.
namespace sustain_state {

extern double gap_potential;         // V
extern double transferable_charge;   // C
extern double transferable_density;  // C/cm^3
extern int gas_node_count;

// Smart Start voltages on the electrodes, the floating-gap potential in phi,
// its wall charges in wall_charge_x and wall_charge_z, "SUSTAIN_STATE.txt"
// and the console report. The program always passes mode 1.
void prepare_sustain_state(int mode);

// From the present phi, with the gas taken as field-free: sets the surface
// charge (C/cm^3) of every gas-dielectric interface across x and z and
// returns the sum of their magnitudes as a charge (C).
double place_sustain_wall_charges();

// Clears the results, as at program start.
void reset();

}  // namespace sustain_state
