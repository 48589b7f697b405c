#include "input/voltage_file.hpp"

namespace voltage_file {

int n_electrodes = 0;
int NDATAVMIN = 1, NDATAVMAX = 0;
std::vector<double> voltage_time;
std::vector<double> voltage_table;
double smart_start_voltage[MAX_ELECTRODES + 1];
int sin_flag = 0;
double sin_t_start, sin_t_end, sin_tau;
double sin_amplitude[MAX_ELECTRODES + 1], sin_period[MAX_ELECTRODES + 1], sin_shift[MAX_ELECTRODES + 1];
int meander_flag = 0;
double meander_t_start, meander_t_end, meander_tau;
double Vlow[MAX_ELECTRODES + 1], Vhigh[MAX_ELECTRODES + 1], Ti[MAX_ELECTRODES + 1],
    dutyfactor[MAX_ELECTRODES + 1];

// Filled in by the waveform work: reading and checking the file.
void read_voltage_file() {}

void reset() {
    n_electrodes = 0;
    NDATAVMIN = 1;
    NDATAVMAX = 0;
    voltage_time.clear();
    voltage_table.clear();
    sin_flag = 0;
    meander_flag = 0;
}

}  // namespace voltage_file
