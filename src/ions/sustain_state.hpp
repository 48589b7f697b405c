#pragma once
// Start-of-run wall charges: those under which the gas gap is free of field
// at the Smart Start voltages.
namespace sustain_state {

extern double gap_potential;         // V
extern double transferable_charge;   // C
extern double transferable_density;  // C/cm^3
extern int gas_node_count;

void prepare_sustain_state(int mode);

}  // namespace sustain_state
