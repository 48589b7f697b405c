#include "ions/surface_processes.hpp"

#include "mesh/mesh_arrays.hpp"

#include <algorithm>

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

// Filled in by the field-phase work.
void emit_secondary_front() {}
void emit_secondary_rear() {}
void emit_secondary_rib() {}

}  // namespace surface
