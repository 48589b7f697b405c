#pragma once
// "Vdata.txt": starting voltages, the applied-voltage table and the optional
// sinusoidal and meander waveforms, read and checked once at start-up.
#include <vector>

namespace voltage_file {

constexpr int MAX_ELECTRODES = 40;

// The largest voltage, V, that a value of the file or a wave may have. No
// display cell holds it: across a gas gap of about 0.1 mm it would be a field
// near 1e7 V/cm, hundreds of times what breaks down the gas or the dielectric.
// Far below it the field solve's arithmetic stays finite and exact to well
// under a millivolt, whatever the table, sine and meander add up to.
constexpr double VOLTAGE_LIMIT = 1.0e5;

extern int n_electrodes;
extern int NDATAVMIN, NDATAVMAX;                // table rows NDATAVMIN..NDATAVMAX
extern std::vector<double> voltage_time;        // s, row r at [r - 1]
extern std::vector<double> voltage_table;       // V, electrode e of row r at [(r - 1)·n_electrodes + e - 1]
extern double smart_start_voltage[MAX_ELECTRODES + 1];  // V, 1-based

extern int sin_flag;
extern double sin_t_start, sin_t_end, sin_tau;  // s
extern double sin_amplitude[MAX_ELECTRODES + 1], sin_period[MAX_ELECTRODES + 1],
    sin_shift[MAX_ELECTRODES + 1];              // V, s, s

extern int meander_flag;
extern double meander_t_start, meander_t_end, meander_tau;  // s
extern double Vlow[MAX_ELECTRODES + 1], Vhigh[MAX_ELECTRODES + 1], Ti[MAX_ELECTRODES + 1],
    dutyfactor[MAX_ELECTRODES + 1];             // V, V, s, fraction

// Reads "Vdata.txt" from the working directory, or stops the run. Every value
// must be finite, every voltage and every wave within VOLTAGE_LIMIT over the
// times the table covers.
void read_voltage_file();

void reset();

}  // namespace voltage_file
