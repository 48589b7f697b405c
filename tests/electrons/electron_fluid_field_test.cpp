// The electron fluid with its field at the density of a glow's core: a
// neutral slab of 1e15 cm^-3 in the built-in cell, stepped at 0.1 ns.
#include "electrons/electron_fluid_field.hpp"
#include "electrons/electron_fluid.hpp"
#include "electrons/electron_transport_tables.hpp"
#include "mesh/cell_setup.hpp"
#include "mesh/conducting_solve.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/plasma_field.hpp"
#include "particles/species.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace ef = electron_fluid;
namespace eff = electron_fluid_field;

namespace {

constexpr double CELL_STEP = 1e-10;  // s
constexpr double SLAB = 1e15;        // cm^-3

struct Figures {
    double separation = 0;  // largest |n_e - n_i| / n_i over the gas box
    double field = 0;       // largest |E| on a face of the gas box, V/cm
    double lowest = 0;      // lowest density, cm^-3
};

Figures figures() {
    using namespace mesh;
    Figures f{0, 0, SLAB};
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                const int n = node(i, j, k);
                f.separation = std::max(f.separation, std::fabs(ef::density[n] - SLAB) / SLAB);
                f.field = std::max({f.field, std::fabs(ex[n]), std::fabs(ey[n]), std::fabs(ez[n])});
                f.lowest = std::min(f.lowest, ef::density[n]);
            }
    return f;
}

struct ElectronFluidField : ::testing::Test {
    bool walls = true;
    void SetUp() override {
        species::reset();
        build_builtin_cell();  // every electrode at 0 V
        plasma_field::reset();
        conducting_solve::reset();
        ef::reset();
        ef::configure({walls, false, false, false});  // mean energy held at 4 eV
        using namespace mesh;
        // Xe+ at rest, and electrons 1 % off them in a pattern that starts
        // a plasma oscillation.
        for (int k = klo; k <= khi; ++k)
            for (int j = jlo; j <= jhi; ++j)
                for (int i = ilo; i <= ihi; ++i) {
                    ion_density[ion_slot(2, i, j, k)] = ELECTRON_CHARGE * SLAB;
                    ef::set_node(i, j, k, SLAB * (1 + 0.01 * std::sin(0.5 * i) * std::cos(0.1 * j)), 4.0);
                }
    }
    void TearDown() override {
        ef::reset();
        plasma_field::reset();
        conducting_solve::reset();
    }
};

}  // namespace

// The conductivity the field takes is the derivative of the fluid's own
// current with respect to the face field: against centred differences of
// the fluxes, from a weak field (e·mu·n) to 3e5 V/cm, where drift rules.
TEST_F(ElectronFluidField, FaceConductivityIsTheFluxDerivative) {
    using namespace mesh;
    static double sx[NODE_COUNT], sy[NODE_COUNT], sz[NODE_COUNT], charge[NODE_COUNT];
    const int a = node(30, 60, 5), b = a + 1;  // the x face of b
    ef::set_node(30, 60, 5, 3e14, 4.0);
    ef::set_node(31, 60, 5, 1e14, 4.0);
    for (double field : {0.0, 1e3, -3e4, 3e5, -3e5}) {
        SCOPED_TRACE(field);
        ex[b] = field;
        ef::field_coupling(ex, ey, ez, CELL_STEP, sx, sy, sz, charge);
        const double step = 1e-4 * std::max(std::fabs(field), 10.0);
        ex[b] = field + step;
        ef::compute_fluxes(ex, ey, ez);
        const double above = ef::flux_x[b];
        ex[b] = field - step;
        ef::compute_fluxes(ex, ey, ez);
        const double below = ef::flux_x[b];
        const double expected = -ELECTRON_CHARGE * (above - below) / (2 * step);
        EXPECT_GT(sx[b], 0.0);
        EXPECT_NEAR(sx[b], expected, 1e-5 * sx[b]);
        if (field == 0.0) {
            const double mobility = electron_transport_tables::transport_at(4.0).mobility_n * species::fill().inv_density;
            EXPECT_NEAR(sx[b], ELECTRON_CHARGE * mobility * 2e14, 1e-9 * sx[b]);
        }
    }
    EXPECT_EQ(sx[node(ilo, 60, 5)], 0.0);  // a wall face keeps its vacuum coupling
    EXPECT_GT(sy[a], 0.0);
}

// Closed walls: the semi-implicit field takes the 1 % separation down
// fivefold in the first step and to the solve's tolerance (some 4e-4) in the
// next, where it stays; the plain order multiplies it some hundredfold per
// step.
TEST_F(ElectronFluidField, SemiImplicitFieldDampsWhatThePlainOrderBlowsUp) {
    walls = false;
    SetUp();
    for (int s = 0; s < 8; ++s) {
        SCOPED_TRACE(s);
        eff::step(CELL_STEP, eff::Order::semi_implicit);
        const Figures f = figures();
        EXPECT_LT(f.separation, s == 0 ? 3e-3 : 1e-3);
        EXPECT_LT(f.field, 1e3);  // V/cm
    }
    SetUp();
    for (int s = 0; s < 3; ++s) eff::step(CELL_STEP, eff::Order::plain);
    EXPECT_GT(figures().separation, 100.0);
}

// Absorbing walls (no wall charge yet, the ions held): the walls drain the
// electrons beside them at their thermal flux, and the ions left behind make
// a sheath of some 4e6 V/cm. With the semi-implicit field the sheath forms
// and holds: no density goes negative, the electrons only decrease, by what
// the walls take, until the loss stops; the field stops growing, and the
// middle comes back to neutral after a damped swing.
TEST_F(ElectronFluidField, SheathFormsAndHoldsAtTheCellStep) {
    walls = true;
    SetUp();
    const double start = ef::total_electrons();
    double electrons = start, early_field = 0, late_field = 0, late_loss = 0;
    for (int s = 0; s < 16; ++s) {
        SCOPED_TRACE(s);
        const ef::StepTally t = eff::step(CELL_STEP, eff::Order::semi_implicit);
        const Figures f = figures();
        EXPECT_GE(f.lowest, 0.0);
        EXPECT_LE(ef::total_electrons(), electrons);
        EXPECT_NEAR(ef::total_electrons() + t.absorbed, electrons, 1e-8 * electrons);
        electrons = ef::total_electrons();
        if (s < 6) early_field = std::max(early_field, f.field);
        if (s >= 8) late_field = std::max(late_field, f.field);
        if (s >= 12) late_loss += t.absorbed;
    }
    EXPECT_GT(early_field, 1e6);  // V/cm: a sheath did form
    EXPECT_LT(late_field, 1.2 * early_field);
    EXPECT_LT(late_loss, 1e-4 * start);
    const int middle = mesh::node((mesh::ilo + mesh::ihi) / 2, (mesh::jlo + mesh::jhi) / 2, (mesh::klo + mesh::khi) / 2);
    EXPECT_NEAR(ef::density[middle] / SLAB, 1.0, 0.02);
}
