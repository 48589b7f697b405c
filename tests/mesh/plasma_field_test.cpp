#include "mesh/plasma_field.hpp"
#include "particles/species.hpp"

#include "common/run_binary.hpp"
#include "driver/checkpoint.hpp"
#include "driver/main_program.hpp"
#include "mesh/cell_setup.hpp"
#include "mesh/charge_and_field.hpp"
#include "particles/particle_storage.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace mesh;

namespace {

constexpr double E = ELECTRON_CHARGE;
constexpr double STEP = 1e-10;  // s
constexpr int INTERVAL = 100;   // steps between solves while the electrons are few
constexpr double FROZEN = INTERVAL * STEP;

bool is_gas(int i, int j, int k) { return material_map[padded(i, j, k)] == 0; }

template <class F>
void for_gas_nodes(F&& f) {
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (is_gas(i, j, k)) f(i, j, k);
}

double largest_gas_field() {
    double largest = 0.0;
    for_gas_nodes([&](int i, int j, int k) {
        const int n = node(i, j, k);
        largest = std::max({largest, std::fabs(ex[n]), std::fabs(ey[n]), std::fabs(ez[n])});
    });
    return largest;
}

struct PlasmaField : ::testing::Test {
    void SetUp() override {
        build_builtin_cell();  // every electrode at 0 V
        plasma_field::reset();
    }
    void TearDown() override { plasma_field::reset(); }
};

// A quasi-neutral blob: ions and electrons of the same (non-uniform) density.
void neutral_blob(double peak) {
    for_gas_nodes([&](int i, int j, int k) {
        const double r2 = std::pow((i - 34) / 8.0, 2) + std::pow((j - 69) / 30.0, 2) + std::pow((k - 4) / 3.0, 2);
        const double rho = peak * std::exp(-r2);
        ion_density[ion_slot(1, i, j, k)] = 0.86 * rho;
        ion_density[ion_slot(2, i, j, k)] = 0.14 * rho;
        electron_density[node(i, j, k)] = -(ion_density[ion_slot(1, i, j, k)] + ion_density[ion_slot(2, i, j, k)]);
    });
}

}  // namespace

// The ion charge alone of a glow-density plasma makes a field as strong as the
// one the sustain voltage applies (1e4 V/cm; here all electrodes are at 0 V);
// with the electrons counted the blob is neutral and field-free.
TEST_F(PlasmaField, AQuasiNeutralPlasmaHasNoSpaceChargeField) {
    neutral_blob(1e13 * E);  // 1e13 cm^-3 at its peak
    field::build_charge_source();
    potential::solve_potential();
    field::compute_field();
    EXPECT_GT(largest_gas_field(), 1e4);  // V/cm: the ions-only model

    build_builtin_cell();
    neutral_blob(1e13 * E);
    field::build_charge_source();
    plasma_field::solve_potential(STEP, INTERVAL);
    field::compute_field();
    EXPECT_LT(largest_gas_field(), 1e-6);
}

// Electrons displaced against the ions of a 1e12 cm^-3 plasma that fills the
// gap, varying along x only (a 1D-like case on the real solver and mesh). The
// frozen field then drives a current sigma·E for the whole interval;
// the charge left at its end is rho' = rho - dt·div(sigma·E). The field of the
// plain solve drives the separation far past neutral (dt >> eps0/sigma); the
// semi-implicit field leaves a small remainder of the same sign.
TEST_F(PlasmaField, ConductionDampsAChargeSeparationInsteadOfOvershooting) {
    const double n0 = 1e12 * E;
    const double sigma0 = plasma_field::electron_mobility() * n0;  // S/cm
    ASSERT_GT(FROZEN * sigma0 * INV_EPS0, 30.0);  // far beyond the explicit limit
    auto load_plasma = [&] {
        for_gas_nodes([&](int i, int j, int k) {
            ion_density[ion_slot(1, i, j, k)] = n0;
            const double shift = 0.5 * std::sin(2.0 * M_PI * (i - 14) / 40.0);
            electron_density[node(i, j, k)] = -n0 * (1.0 + shift);
        });
    };
    // Net charge at the end of the frozen interval, per gas node, from the
    // electron current through the gas faces, the conduction the model
    // carries (a face onto a wall carries none).
    auto charge_after_interval = [&] {
        std::vector<double> after(NODE_COUNT, 0.0);
        auto sigma = [&](int a, int b) {  // electrons and Ne+ ions, S/cm
            auto node_sigma = [](int n) {
                return plasma_field::electron_mobility() * std::fabs(electron_density[n]) +
                       species::fill().ne_ion_mobility * ion_density[2 * n];
            };
            return 0.5 * (node_sigma(a) + node_sigma(b));
        };
        for_gas_nodes([&](int i, int j, int k) {
            const int n = node(i, j, k);
            double rho = ion_density[ion_slot(1, i, j, k)] + electron_density[n];
            // Outflow of positive charge through the six faces, C/cm^3 over the interval.
            double out = 0.0;
            if (is_gas(i + 1, j, k)) out += sigma(n, node(i + 1, j, k)) * ex[node(i + 1, j, k)] * inv_dx;
            if (is_gas(i - 1, j, k)) out -= sigma(n, node(i - 1, j, k)) * ex[n] * inv_dx;
            if (is_gas(i, j + 1, k)) out += sigma(n, node(i, j + 1, k)) * ey[node(i, j + 1, k)] * inv_dy;
            if (is_gas(i, j - 1, k)) out -= sigma(n, node(i, j - 1, k)) * ey[n] * inv_dy;
            if (is_gas(i, j, k + 1)) out += sigma(n, node(i, j, k + 1)) * ez[node(i, j, k + 1)] * inv_dz;
            if (is_gas(i, j, k - 1)) out -= sigma(n, node(i, j, k - 1)) * ez[n] * inv_dz;
            after[n] = rho - FROZEN * out;
        });
        return after;
    };
    // Sum |rho| and sum rho·rho0 over the gas away from the front and rear
    // walls, where the charge driven against a wall piles up (the model's
    // conduction stops there; in a run the movers put it into wall charge).
    auto separation = [&](const std::vector<double>& rho) {
        double size = 0.0, overlap = 0.0;
        for_gas_nodes([&](int i, int j, int k) {
            if (i < ilo + 2 || i > ihi - 2) return;
            const int n = node(i, j, k);
            const double rho0 = ion_density[ion_slot(1, i, j, k)] + electron_density[n];
            size += std::fabs(rho[n]);
            overlap += rho[n] * rho0;
        });
        return std::pair{size, overlap};
    };

    load_plasma();
    std::vector<double> before(NODE_COUNT, 0.0);
    for_gas_nodes([&](int i, int j, int k) {
        before[node(i, j, k)] = ion_density[ion_slot(1, i, j, k)] + electron_density[node(i, j, k)];
    });
    const double size0 = separation(before).first;

    // Explicit: electrons in the source, vacuum couplings.
    field::build_charge_source();
    plasma_field::add_electron_charge();
    potential::solve_potential();
    field::compute_field();
    const auto [explicit_size, explicit_overlap] = separation(charge_after_interval());
    EXPECT_GT(explicit_size, 10.0 * size0);
    EXPECT_LT(explicit_overlap, 0.0);  // the sign flips: overshoot

    build_builtin_cell();
    plasma_field::reset();
    load_plasma();
    field::build_charge_source();
    plasma_field::solve_potential(STEP, INTERVAL);
    field::compute_field();
    const auto [implicit_size, implicit_overlap] = separation(charge_after_interval());
    EXPECT_LT(implicit_size, 0.1 * size0);
    EXPECT_GT(implicit_overlap, 0.0);  // relaxes towards neutral from the same side
}

// With no charge carriers in the gas (wall charge only) the conducting
// couplings are the vacuum ones, so the solve gives the plain solve's
// potential to a fraction of a millivolt (each stops on a residual);
// after any plasma solve the face couplings and the solver's coefficients are
// the vacuum ones again, as the sustain-state and floating-gap solves expect.
TEST_F(PlasmaField, WithoutCarriersItIsThePlainSolveAndTheVacuumCouplingsComeBack) {
    auto load_charges = [] {
        wall_charge_x[padded(15, 70, 5)] = -2e-6;
        wall_charge_x[padded(54, 40, 3)] = 3e-6;
        wall_charge_z[padded(25, 90, 8)] = 1e-6;
    };
    electrodes::electrode_voltage[1] = 180.0;
    load_charges();
    field::build_charge_source();
    potential::solve_potential();
    const std::vector<double> plain(phi, phi + NODE_COUNT);
    const std::vector<double> vacuum_center(sor_center, sor_center + NODE_COUNT);
    const std::vector<double> vacuum_xp(sor_xp, sor_xp + NODE_COUNT), vacuum_zm(sor_zm, sor_zm + NODE_COUNT);
    const std::vector<double> vacuum_face_y(eps_face_y, eps_face_y + NODE_COUNT);

    build_builtin_cell();
    electrodes::electrode_voltage[1] = 180.0;
    load_charges();
    field::build_charge_source();
    plasma_field::solve_potential(STEP, INTERVAL);
    double largest = 0.0;
    for (int n = 0; n < NODE_COUNT; ++n) largest = std::max(largest, std::fabs(phi[n] - plain[n]));
    EXPECT_LT(largest, 1e-3);  // V, of 180

    // Now with a plasma: a different potential, then the vacuum couplings.
    neutral_blob(1e12 * E);
    electron_density[node(30, 60, 4)] *= 1.5;
    field::build_charge_source();
    plasma_field::solve_potential(STEP, INTERVAL);
    EXPECT_NE(std::memcmp(phi, plain.data(), sizeof phi), 0);
    EXPECT_EQ(std::memcmp(sor_center, vacuum_center.data(), sizeof sor_center), 0);
    EXPECT_EQ(std::memcmp(sor_xp, vacuum_xp.data(), sizeof sor_xp), 0);
    EXPECT_EQ(std::memcmp(sor_zm, vacuum_zm.data(), sizeof sor_zm), 0);
    EXPECT_EQ(std::memcmp(eps_face_y, vacuum_face_y.data(), sizeof eps_face_y), 0);
}

// The gas-side field at a charged wall comes from Gauss's law with the vacuum
// coupling of the wall face and the 1 : eps split of the wall charge; a
// conduction term on that face would break both. Gas faces gain
// dt·mu·|rho_e|/eps0 times area over spacing.
TEST_F(PlasmaField, OnlyGasToGasFacesConduct) {
    const std::vector<double> fx(eps_face_x, eps_face_x + NODE_COUNT), fz(eps_face_z, eps_face_z + NODE_COUNT);
    std::fill(electron_density, electron_density + NODE_COUNT, -1e12 * E);
    plasma_field::load_conducting_couplings(FROZEN);
    const double gain = FROZEN * plasma_field::electron_mobility() * 1e12 * E * INV_EPS0;
    const int front = node(15, 60, 4), rear = node(54, 60, 4), rib = node(30, 60, 10), gas_x = node(30, 60, 4);
    const int gas_z = node(30, 60, 9);
    EXPECT_EQ(eps_face_x[front], fx[front]);  // front dielectric (i = 14) to gas
    EXPECT_EQ(eps_face_x[rear], fx[rear]);    // gas to rear dielectric
    EXPECT_EQ(eps_face_z[rib], fz[rib]);      // gas (k = 9) to phosphor
    EXPECT_NEAR(eps_face_x[gas_x], fx[gas_x] + gain * dy * dz / dx, 1e-12 * eps_face_x[gas_x]);
    EXPECT_NEAR(eps_face_z[gas_z], fz[gas_z] + gain * dx * dy / dz, 1e-12 * eps_face_z[gas_z]);
    plasma_field::restore_vacuum_couplings();
    EXPECT_EQ(std::memcmp(eps_face_x, fx.data(), sizeof eps_face_x), 0);
}

// The schedule: every interval steps while the electrons are few; every
// step once their real number (the sum of |w|/e, merged records counting
// their weight, dead slots nothing) exceeds the threshold.
TEST_F(PlasmaField, TheFieldIsSolvedEveryStepOnlyWhileTheElectronsAreDense) {
    using namespace PARTICLE_STORAGE;
    PARTICLE_STORAGE::reset();
    const double x = 0.5 * (xlow + xhigh), y = 0.5 * (ylow + yhigh), z = 0.5 * (zlow + zhigh);
    add_particle(electrons, -6e4 * E, 0.0, x, y, z, 0.0, 0.0, 0.0, 0);
    add_particle(electrons, -3e4 * E, 0.0, x, y, z, 0.0, 0.0, 0.0, 1);
    add_particle(ions, 5e5 * E, 0.0, x, y, z, 0.0, 0.0, 0.0, 1);  // ions do not count
    auto due = [](int n) { return plasma_field::field_due(n, 100, charge_carried(electrons)); };
    EXPECT_FALSE(due(37));
    EXPECT_TRUE(due(200));
    add_particle(electrons, -2e4 * E, 0.0, x, y, z, 0.0, 0.0, 0.0, 2);
    EXPECT_TRUE(due(37));
    EXPECT_TRUE(due(38));
    electrons.cursor = 3;
    delete_current(electrons);
    EXPECT_FALSE(due(39));
    PARTICLE_STORAGE::reset();
}

namespace {

// The files of a run, the run log without its processor times.
std::string run_files() {
    std::string all = log_without_cpu_time(TempFolder::read("general.txt"));
    for (const char* name : {"OUT_Ion_Density.2Ddata", "OUT_Electron_Density.2Ddata", "OUT_Potential.2Ddata"})
        all += TempFolder::read(name);
    return all;
}

}  // namespace

// A checkpoint of a dense plasma cloud just before step 10001 (heavy records,
// so that few electrons carry a conductivity that matters and the field is
// solved in every step), run through the checkpoint the program writes at
// step 10001 to step 10021. Restarted from that checkpoint, with the option
// given again or not, the run writes the same files to the bit.
TEST(Binary, APlasmaFieldRunRestartsBitForBit) {
    TempFolder folder;
    driver::reset_all();
    build_geometry_quietly();  // the gas box, to place the cloud in
    std::filesystem::remove("input_file.txt");
    copy_example_case();
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> thermal(0.0, 6e7);  // cm/s, a few eV
    for (int m = 0; m < 60; ++m) {
        const double x = xlow + (0.3 + 0.4 * u(rng)) * (xhigh - xlow);
        const double y = ylow + (0.3 + 0.4 * u(rng)) * (yhigh - ylow);
        const double z = zlow + (0.2 + 0.6 * u(rng)) * (zhigh - zlow);
        using PARTICLE_STORAGE::add_particle;
        add_particle(PARTICLE_STORAGE::electrons, -5000 * E, 9.98e-7, x, y, z, thermal(rng), thermal(rng), thermal(rng), 0);
        add_particle(PARTICLE_STORAGE::ions, 5000 * E, 9.98e-7, x, y, z, 0.0, 0.0, 0.0, 1 + m % 2);
    }
    double t = 9.98e-7, dt = 1e-10;
    int nstep = 9981;
    checkpoint::RunModel model;
    model.plasma_field = true;
    checkpoint::set_run_model(model);
    checkpoint::checkpoint_restart(0, t, nstep, dt);
    driver::reset_all();
    std::string input = TempFolder::read("input_file.txt");
    input.replace(input.rfind("0        restart flag"), 1, "1");
    TempFolder::write("input_file.txt", input);

    RunResult r = run_pdpcell("--plasma-field --max-steps 10021 </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string through = run_files();
    const std::string saved = TempFolder::read("restart");  // written at step 10001

    r = run_pdpcell("--plasma-field --max-steps 10021 </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(run_files() == through);

    // The run's own checkpoint records the model, so a restart from it
    // needs no option to go on the same way.
    TempFolder::write("restart", saved);
    r = run_pdpcell("--max-steps 10021 </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(run_files() == through);
}

// The smoothing of the space charge and the conductivity: it keeps the sum
// over the gas (a charge neither appears nor vanishes, none crosses a wall), leaves a
// uniform array as it is to the bit and the dielectric nodes untouched, and
// spreads a spike in the middle of the gas over its neighbours in binomial
// weights along each axis.
TEST_F(PlasmaField, SmoothingKeepsTheGasTotalAndTouchesOnlyGasNodes) {
    std::vector<double> a(NODE_COUNT);
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (double& v : a) v = u(rng);
    const std::vector<double> before = a;
    auto gas_sum = [](const std::vector<double>& v) {
        double sum = 0.0;
        for_gas_nodes([&](int i, int j, int k) { sum += v[node(i, j, k)]; });
        return sum;
    };
    plasma_field::smooth_over_gas(a.data());
    EXPECT_NEAR(gas_sum(a), gas_sum(before), 1e-9);
    int gas_changed = 0;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const int n = node(i, j, k);
                if (!is_gas(i, j, k)) EXPECT_EQ(a[n], before[n]) << i << " " << j << " " << k;
                else gas_changed += a[n] != before[n];
            }
    EXPECT_GT(gas_changed, 0);

    // Uniform over the gas, something else in the solids: unchanged.
    for (int n = 0; n < NODE_COUNT; ++n) a[n] = 3.7;
    for_gas_nodes([&](int i, int j, int k) { a[node(i, j, k)] = -1.25e-3; });
    const std::vector<double> uniform = a;
    plasma_field::smooth_over_gas(a.data());
    EXPECT_EQ(std::memcmp(a.data(), uniform.data(), sizeof(double) * NODE_COUNT), 0);

    // A spike in the middle of the gas: along each axis the weights of a
    // binomial kernel, C(2P, P + d)/4^P at offset d after P passes.
    auto weight = [](int d) {
        constexpr int P = plasma_field::SMOOTHING_PASSES;
        double c = 1.0;  // C(2P, P + |d|)
        for (int m = 1; m <= P - std::abs(d); ++m) c = c * (P + std::abs(d) + m) / m;
        return c / std::pow(4.0, P);
    };
    std::fill(a.begin(), a.end(), 0.0);
    const int i0 = 34, j0 = 70, k0 = 6, P = plasma_field::SMOOTHING_PASSES;
    ASSERT_TRUE(is_gas(i0 - P, j0 - P, k0 - P) && is_gas(i0 + P, j0 + P, k0 + P));
    a[node(i0, j0, k0)] = 64.0;
    plasma_field::smooth_over_gas(a.data());
    for (const auto [di, dj, dk] : {std::array{0, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 0, 1}, {-1, 1, -1}, {P, 0, 0}})
        EXPECT_DOUBLE_EQ(a[node(i0 + di, j0 + dj, k0 + dk)], 64.0 * weight(di) * weight(dj) * weight(dk))
            << di << " " << dj << " " << dk;
    EXPECT_EQ(a[node(i0 + P + 1, j0, k0)], 0.0);

    // A spike on the gas node next to the front wall keeps its charge in the gas.
    std::fill(a.begin(), a.end(), 0.0);
    ASSERT_TRUE(is_gas(ilo, 70, 6) && !is_gas(ilo - 1, 70, 6));
    a[node(ilo, 70, 6)] = 64.0;
    plasma_field::smooth_over_gas(a.data());
    EXPECT_EQ(a[node(ilo - 1, 70, 6)], 0.0);
    EXPECT_DOUBLE_EQ(gas_sum(a), 64.0);
    EXPECT_GT(a[node(ilo, 70, 6)], 64.0 * weight(0) * weight(0) * weight(0));  // held back by the wall
}

// In the source the ions' and electrons' charge is smoothed together and the
// wall charge is left as build_charge_source() puts it: the total is that of
// the unsmoothed charges, the dielectric nodes keep their share of the wall
// charge to the bit, and a lone ion cluster next to the front wall spreads
// only into the gas.
TEST_F(PlasmaField, TheSourceKeepsTheTotalChargeAndTheWallShares) {
    ASSERT_TRUE(is_gas(ilo, 70, 6) && !is_gas(ilo - 1, 70, 6));
    ion_density[ion_slot(1, ilo, 70, 6)] = 3e12 * E;
    ion_density[ion_slot(2, 30, 50, 4)] = 1e12 * E;
    electron_density[node(31, 52, 5)] = -2e12 * E;
    wall_charge_x[padded(ilo, 60, 5)] = -4e-7;
    wall_charge_z[padded(30, 80, khi + 1)] = 2e-7;
    field::build_charge_source();
    const std::vector<double> ions_only(charge_source, charge_source + NODE_COUNT);
    plasma_field::add_electron_charge();
    const double c = dx * dy * dz * INV_EPS0;
    double total = 0.0, expected = 0.0;
    for (int n = 0; n < NODE_COUNT; ++n) {
        total += charge_source[n];
        expected += ions_only[n];
    }
    expected += c * -2e12 * E;
    EXPECT_NEAR(total, expected, 1e-12 * c * 6e12 * E);
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (!is_gas(i, j, k)) {
                    EXPECT_EQ(charge_source[node(i, j, k)], ions_only[node(i, j, k)]);
                }
    EXPECT_LT(charge_source[node(ilo, 70, 6)], ions_only[node(ilo, 70, 6)]);
    EXPECT_GT(charge_source[node(ilo + 1, 70, 6)], 0.0);
}
