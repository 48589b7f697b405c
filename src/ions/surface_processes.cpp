#include "ions/surface_processes.hpp"

#include "common/fatal_error.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_streams.hpp"
#include "particles/species.hpp"

#include <algorithm>
#include <string>

namespace surface {

using namespace mesh;

// The wall index is the face n·h on which the wall lies: the front cell is the
// first gas node, the rear and rib cells the first dielectric node beyond.
WallCell wall_cell(Wall wall, double x, double y, double z) {
    const int j = static_cast<int>(y / dy);
    switch (wall) {
        case Wall::front: return {ilo, j, static_cast<int>(z / dz)};
        case Wall::rear: return {ihi + 1, j, static_cast<int>(z / dz)};
        case Wall::rib: break;
    }
    const int i = std::clamp(static_cast<int>(x / dx), ilo, ihi);
    return {i, j, khi + 1};
}

void deposit(Wall wall, const WallCell& cell, double w) {
    double* charge = wall == Wall::rib ? wall_charge_z : wall_charge_x;
    charge[padded(cell.i, cell.j, cell.k)] += w * inv_cell_volume;
}

void deposit(Wall wall, const WallCell& cell, double w, pass_output::Context& context) {
    double* charge = wall == Wall::rib ? wall_charge_z : wall_charge_x;
    pass_output::deposit(context, &charge[padded(cell.i, cell.j, cell.k)], w * inv_cell_volume);
}

namespace {

using PARTICLE_STORAGE::Particle;

double yield(const double (&gamma)[2], int species) {
    if (species != 1 && species != 2)
        pdp::fatal("ERROR: secondary emission for an ion of unknown species " + std::to_string(species));
    return gamma[species - 1];
}

// The electron leaves the wall at rest; it carries away the negative of the
// ion's charge, so the wall keeps a second +w.
void emit(Wall wall, const double (&gamma)[2], const Particle& ion, double flight_time,
          const WallCell& cell, double x, double y, double z, pass_output::Context& context) {
    const double r = pass_output::draw_uniform(context);
    if (r >= yield(gamma, ion.species)) return;
    pass_output::add_electron(context, {-ion.w, ion.t - EMISSION_OFFSET * flight_time, x, y, z, 0.0, 0.0, 0.0, 0},
                              particle_streams::CHILD_ELECTRON);
    deposit(wall, cell, ion.w, context);
}

}  // namespace

void emit_secondary_front(const Particle& ion, double flight_time, const WallCell& cell,
                          pass_output::Context& context) {
    emit(Wall::front, species::fill().yield[species::FRONT], ion, flight_time, cell, xlow + EMISSION_OFFSET * dx, ion.y, ion.z, context);
}

void emit_secondary_rear(const Particle& ion, double flight_time, const WallCell& cell,
                         pass_output::Context& context) {
    emit(Wall::rear, species::fill().yield[species::REAR], ion, flight_time, cell, xhigh - EMISSION_OFFSET * dx, ion.y, ion.z, context);
}

void emit_secondary_rib(const Particle& ion, double flight_time, const WallCell& cell,
                        pass_output::Context& context) {
    emit(Wall::rib, species::fill().yield[species::RIB], ion, flight_time, cell, ion.x, ion.y, zhigh - EMISSION_OFFSET * dz, context);
}

}  // namespace surface
