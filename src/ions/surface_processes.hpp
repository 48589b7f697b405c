#pragma once
// Absorption at the three material walls of the gas box and the secondary
// electrons that absorbed ions release there.
#include "particles/particle_storage.hpp"
#include "particles/pass_output.hpp"

namespace surface {

enum class Wall { front, rear, rib };

// Wall cell (i, j, k) of a hit: front and rear cells in wall_charge_x, rib
// cells in wall_charge_z.
struct WallCell {
    int i, j, k;
};

WallCell wall_cell(Wall wall, double x, double y, double z);
// Adds w·inv_cell_volume (C/cm^3) to the cell in the wall's array.
void deposit(Wall wall, const WallCell& cell, double w);
// The same through the context of a particle's move (at once, or in its chunk).
void deposit(Wall wall, const WallCell& cell, double w, pass_output::Context& context);

// An emitted electron starts this fraction of a cell inside the gas, and this
// fraction of the ion's last flight before the ion's arrival.
constexpr double EMISSION_OFFSET = 1e-9;

// Secondary emission for an ion that has just been absorbed at the wall after
// a flight of flight_time seconds and whose charge went to `cell`: one draw,
// and on emission an electron at rest plus a second deposit of the ion's w,
// through the context of the ion's move.
void emit_secondary_front(const PARTICLE_STORAGE::Particle& ion, double flight_time, const WallCell& cell,
                          pass_output::Context& context);
void emit_secondary_rear(const PARTICLE_STORAGE::Particle& ion, double flight_time, const WallCell& cell,
                         pass_output::Context& context);
void emit_secondary_rib(const PARTICLE_STORAGE::Particle& ion, double flight_time, const WallCell& cell,
                        pass_output::Context& context);

}  // namespace surface
