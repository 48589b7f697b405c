#pragma once
// The checkpoint file "restart": mode 0 saves the run state, mode 1 restores
// it; any other mode does nothing.
//
// Saved: charge_source, ion_density, electron_density, wall_charge_x,
// wall_charge_z, phi, phi_old, ex, ey, ez, the clock (t, dt, nstep), both
// particle stores with their dead slots and the generator state, followed by
// copies of "input_file.txt" and "Vdata.txt" for the record. A --parallel run
// adds, right after the generator state, a marker line with its streams' key
// and every slot's identity and draws; each mode refuses the other's file.
// A run whose model is not the default one (parallel mode, plasma field,
// seeding at the cathode, merging caps) saves that model in one line right
// after the generator state, with the slots of its capped stores; a restart
// takes the model from there (read_saved_run, ahead of the start-up).
// A new checkpoint
// is written to TEMPORARY_FILE and renamed over "restart" only once it is
// complete, so a killed run or a full disk never destroys the last one.
#include <cstdint>
#include <string>

namespace checkpoint {

inline constexpr const char* RESTART_FILE = "restart";
inline constexpr const char* TEMPORARY_FILE = "restart.tmp";

void checkpoint_restart(int mode, double& t, int& nstep, double& dt);

// What decides a run's results beyond its input files and generator state.
struct RunModel {
    bool parallel = false;
    bool plasma_field = false;
    bool seed_at_cathode = false;
    bool second_order_flights = false;
    bool drift_diffusion = false;
    bool vuv = false;
    bool fluid_electrons = false;
    int max_ions = 0;       // merging caps, 0: none
    int max_electrons = 0;
    std::int32_t seed1 = 1100;  // the seeds, which key the merging choices
    std::int32_t seed2 = 550;
};
bool is_default(const RunModel& model);
// The model of this run, for the checkpoints it writes and reads; set at start-up.
void set_run_model(const RunModel& model);
// The model as options on a command line: "--parallel --max-ions 5000 ...".
std::string describe(const RunModel& model);

// What a restart will resume, read ahead of the start-up without changing
// anything. readable is false when the file is missing or not a checkpoint;
// the restart itself then says what is wrong. has_model is false for a file
// that records no model (a default run's, or an older version's); its model
// is then the default one, but for the parallel streams that an older
// parallel run's file holds.
struct SavedRun {
    bool readable = false;
    int nstep = 0;
    double t = 0.0;  // s
    bool has_model = false;
    RunModel model;
};
SavedRun read_saved_run();

}  // namespace checkpoint
