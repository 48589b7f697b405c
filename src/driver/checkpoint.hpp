#pragma once
// The checkpoint file "restart": mode 0 saves the run state, mode 1 restores
// it; any other mode does nothing.
namespace checkpoint {

void checkpoint_restart(int mode, double& t, int& nstep, double& dt);

}  // namespace checkpoint
