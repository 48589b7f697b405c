#pragma once
// The hybrid electrons (--fluid-electrons): records while they are few, a
// fluid (electron_fluid) while the plasma is dense. The hand-over goes by the
// cell's real electron count with a hysteresis: the records become fluid once
// they stand for fluid_from real electrons, and every record made afterwards
// (secondary electrons, seeds) joins the fluid at the end of its step; the
// fluid becomes records again once it holds fewer than records_below, so that
// the seeds, the start of an avalanche and the afterglow's last electrons stay
// particles, with their statistics.
#include <cstdint>

namespace hybrid_electrons {

struct Settings {
    double fluid_from = 1e6;      // real electrons in records: the fluid takes over
    double records_below = 2e4;   // real electrons in the fluid: records again
    int records_back = 2000;      // records the fluid becomes (fewer if it holds fewer electrons)
    int ion_records = 50000;      // the ion store's cap: sets the weight of the ions the fluid makes
    // Implicit fluid steps per time step, in the step's field: one step of
    // 0.1 ns damps an avalanche to death (docs/model/electron-fluid.md).
    int fluid_substeps = 8;
};

// On for the run (after the geometry and the fill are set up), fluid empty.
void start(const Settings& settings);
bool on();
// Whether the fluid holds the electrons now.
bool fluid_active();

// After the electron pass of the step from t to t + dt (step `step`), in the
// mesh's face fields: the hand-over, then the fluid's implicit step with what
// it passes on (ion records, wall charge, collision counts, the per-pulse
// tally's work and wall energy). While the fluid is active, the field phase
// solves the field with the fluid's charge and conductivities
// (electron_fluid_field::solve_field) in every step.
void after_electron_pass(double t, double dt, std::uint64_t step);

// Real electrons in the fluid.
double fluid_electrons();
// The charge (C, summed |w|) of the electrons, records and fluid.
double electron_charge_carried();

// The state for a checkpoint and back: whether the fluid is active, its
// density, energy density, wall tallies and the births not yet records.
int saved_count();
void save(double* values);
void load(const double* values);

// Off, fluid empty, as at program start.
void reset();

}  // namespace hybrid_electrons
