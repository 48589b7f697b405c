#include "electrons/hybrid_electrons.hpp"

#include "electrons/electron_fluid.hpp"
#include "electrons/fluid_coupling.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_merging.hpp"
#include "particles/particle_storage.hpp"
#include "particles/pass_output.hpp"

#include <algorithm>
#include <cmath>

namespace hybrid_electrons {

namespace {

Settings settings;
bool active = false;  // --fluid-electrons given
bool fluid = false;   // the fluid holds the electrons

constexpr int NODES = mesh::NODE_COUNT;

// The fluid's implicit steps over dt in the field solved for it, passing on
// their births, collisions, work and wall losses.
void move_fluid(double t, double dt, std::uint64_t step) {
    // Each ion record of the fluid's stands for about the mean weight the
    // ion store would have, full.
    const double min_ions = std::max(1.0, particle_merging::real_count(PARTICLE_STORAGE::ions) / settings.ion_records);
    pass_output::Tally& tally = pass_output::pass_tally;
    // Records made in one call get identities from its key: the step and the
    // sub-step (0 is the hand-back's flush).
    const int substeps = std::clamp(settings.fluid_substeps, 1, 255);
    const double h = dt / substeps;
    for (int k = 1; k <= substeps; ++k) {
        const electron_fluid::StepTally s = electron_fluid::step_implicit(h, mesh::ex, mesh::ey, mesh::ez);
        fluid_coupling::count_collisions(h);
        fluid_coupling::births_to_ions(min_ions, t + k * h, (step << 8) | static_cast<std::uint64_t>(k));
        tally.electron_work += s.heating * mesh::ELECTRON_CHARGE;
        tally.electron_wall_energy += s.absorbed_energy * mesh::ELECTRON_CHARGE;
    }
    fluid_coupling::walls_to_charge();
}

}  // namespace

void start(const Settings& given) {
    reset();
    settings = given;
    active = true;
    electron_fluid::reset();
    fluid_coupling::reset();
}

bool on() { return active; }
bool fluid_active() { return fluid; }

void after_electron_pass(double t, double dt, std::uint64_t step) {
    if (!active) return;
    if (!fluid && particle_merging::real_count(PARTICLE_STORAGE::electrons) >= settings.fluid_from) fluid = true;
    if (!fluid) return;
    fluid_coupling::take_records();
    move_fluid(t, dt, step);
    const double left = electron_fluid::total_electrons();
    if (left < settings.records_below) {
        fluid_coupling::flush_births(t + dt, step << 8);
        const int records = static_cast<int>(std::min<double>(settings.records_back, std::ceil(left)));
        fluid_coupling::give_records(records, t + dt, step);
        fluid = false;
    }
}

double fluid_electrons() { return fluid ? electron_fluid::total_electrons() : 0.0; }

double electron_charge_carried() {
    return PARTICLE_STORAGE::charge_carried(PARTICLE_STORAGE::electrons) + mesh::ELECTRON_CHARGE * fluid_electrons();
}

int saved_count() { return 1 + 3 * NODES + fluid_coupling::saved_count(); }

void save(double* values) {
    values[0] = fluid ? 1.0 : 0.0;
    std::copy(electron_fluid::density, electron_fluid::density + NODES, values + 1);
    std::copy(electron_fluid::energy_density, electron_fluid::energy_density + NODES, values + 1 + NODES);
    std::copy(electron_fluid::wall_electrons, electron_fluid::wall_electrons + NODES, values + 1 + 2 * NODES);
    fluid_coupling::save(values + 1 + 3 * NODES);
}

void load(const double* values) {
    fluid = values[0] != 0.0;
    std::copy(values + 1, values + 1 + NODES, electron_fluid::density);
    std::copy(values + 1 + NODES, values + 1 + 2 * NODES, electron_fluid::energy_density);
    std::copy(values + 1 + 2 * NODES, values + 1 + 3 * NODES, electron_fluid::wall_electrons);
    fluid_coupling::load(values + 1 + 3 * NODES);
}

void reset() {
    settings = Settings{};
    active = fluid = false;
    fluid_coupling::reset();
}

}  // namespace hybrid_electrons
