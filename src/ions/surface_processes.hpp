#pragma once
// Absorption at the three material walls of the gas box and the secondary
// electrons that absorbed ions release there.
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

// Secondary emission for the ion the ion pass has just absorbed.
void emit_secondary_front();
void emit_secondary_rear();
void emit_secondary_rib();

}  // namespace surface
