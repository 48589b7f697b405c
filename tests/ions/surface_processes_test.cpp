#include "ions/surface_processes.hpp"

#include "mesh/cell_setup.hpp"
#include "mesh/charge_and_field.hpp"

#include <gtest/gtest.h>

#include <algorithm>

using namespace mesh;
using surface::Wall;
using surface::WallCell;

namespace {

struct WallCells : ::testing::Test {
    void SetUp() override { build_builtin_cell(); }
};

void expect_cell(const WallCell& c, int i, int j, int k) {
    EXPECT_EQ(c.i, i);
    EXPECT_EQ(c.j, j);
    EXPECT_EQ(c.k, k);
}

}  // namespace

TEST_F(WallCells, EachWallTakesTheCellThatHoldsTheHitInItsPlane) {
    // Wall cell n along an axis spans n·h .. (n+1)·h, around node n.
    const double y = 50.8 * dy, z = 4.3 * dz;
    expect_cell(surface::wall_cell(Wall::front, xlow, y, z), ilo, 50, 4);
    expect_cell(surface::wall_cell(Wall::rear, xhigh, y, z), ihi + 1, 50, 4);
    expect_cell(surface::wall_cell(Wall::rib, 30.2 * dx, y, zhigh), 30, 50, khi + 1);
    expect_cell(surface::wall_cell(Wall::front, xlow, ylow, zlow), ilo, jlo, klo);  // mirror-plane corner
}

TEST_F(WallCells, OvershootingHitsStayOnTheirWall) {
    // A flight that ends past the wall plane still charges the wall's cell.
    expect_cell(surface::wall_cell(Wall::front, xlow - 0.7 * dx, 60.5 * dy, 5.5 * dz), ilo, 60, 5);
    expect_cell(surface::wall_cell(Wall::rear, xhigh + 0.7 * dx, 60.5 * dy, 5.5 * dz), ihi + 1, 60, 5);
    // On the rib only x is clamped to the gas box.
    expect_cell(surface::wall_cell(Wall::rib, xlow - 0.4 * dx, 60.5 * dy, zhigh + 0.2 * dz), ilo, 60, khi + 1);
    expect_cell(surface::wall_cell(Wall::rib, xhigh + 0.4 * dx, 60.5 * dy, zhigh), ihi, 60, khi + 1);
}

TEST_F(WallCells, DepositsAreSignedChargePerCellVolumeInTheWallsArray) {
    const double e = ELECTRON_CHARGE;
    const WallCell front = surface::wall_cell(Wall::front, xlow, 30.5 * dy, 3.5 * dz);
    const WallCell rib = surface::wall_cell(Wall::rib, 40.5 * dx, 90.5 * dy, zhigh);
    surface::deposit(Wall::front, front, e);
    surface::deposit(Wall::front, front, e);
    surface::deposit(Wall::front, front, -e);
    surface::deposit(Wall::rib, rib, -e);
    EXPECT_NEAR(wall_charge_x[padded(ilo, 30, 3)], e * inv_cell_volume, 1e-15 * e * inv_cell_volume);
    EXPECT_EQ(wall_charge_x[padded(40, 90, khi + 1)], 0.0);
    EXPECT_EQ(wall_charge_z[padded(40, 90, khi + 1)], -e * inv_cell_volume);
    EXPECT_TRUE(std::all_of(wall_charge_y, wall_charge_y + PADDED_COUNT, [](double v) { return v == 0.0; }));
}

TEST_F(WallCells, EveryDepositedChargeReachesTheChargeSource) {
    // The cells the walls charge are the ones the source build reads, for
    // every wall: the whole charge enters the solve, none is dropped.
    const double w = 1e-5;  // C/cm^3
    surface::deposit(Wall::front, surface::wall_cell(Wall::front, xlow, 20.5 * dy, 2.5 * dz), w / inv_cell_volume);
    surface::deposit(Wall::rear, surface::wall_cell(Wall::rear, xhigh, 100.5 * dy, 9.5 * dz), w / inv_cell_volume);
    surface::deposit(Wall::rib, surface::wall_cell(Wall::rib, 53.5 * dx, 136.5 * dy, zhigh), w / inv_cell_volume);
    field::build_charge_source();
    double total = 0.0;
    int charged_nodes = 0;
    for (int n = 0; n < NODE_COUNT; ++n) {
        total += charge_source[n];
        charged_nodes += charge_source[n] != 0.0;
    }
    const double c = dx * dy * dz * INV_EPS0;
    EXPECT_NEAR(total, 3 * c * w, 1e-12 * c * w);
    EXPECT_EQ(charged_nodes, 6);  // a gas node and a dielectric node per wall
}
