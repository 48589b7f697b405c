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
// A new checkpoint
// is written to TEMPORARY_FILE and renamed over "restart" only once it is
// complete, so a killed run or a full disk never destroys the last one.
namespace checkpoint {

inline constexpr const char* RESTART_FILE = "restart";
inline constexpr const char* TEMPORARY_FILE = "restart.tmp";

void checkpoint_restart(int mode, double& t, int& nstep, double& dt);

}  // namespace checkpoint
