#include "input/electrode_voltages.hpp"

#include <algorithm>

namespace electrodes {

double electrode_voltage[41];

// Filled in by the waveform work: table interpolation, sine and meander.
void update_electrode_voltages(double, double) {}

void reset() { std::fill(electrode_voltage, electrode_voltage + 41, 0.0); }

}  // namespace electrodes
