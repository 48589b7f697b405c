#include "radiation/xe_kinetics.hpp"

#include "electrons/collision_frequencies.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/species.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace xe_rates;

// One gas node (mesh cleared: every material 0) in a 78 um gap, 200 um
// between the ribs: the states of a uniform fill, 0D.
void one_node_cell(double interval) {
    mesh::reset();
    mesh::ilo = mesh::ihi = mesh::jlo = mesh::jhi = mesh::klo = mesh::khi = 1;
    mesh::xlow = 0.0;
    mesh::xhigh = 78e-4;
    mesh::zlow = 0.0;
    mesh::zhigh = 100e-4;
    xe_kinetics::start(species::BUILT_IN_FILL, interval);
}

// Where the node is (its cloud-in-cell weight all on node (1,1,1)).
constexpr double X = 1.5 * mesh::dx, Y = 1.5 * mesh::dy, Z = 1.5 * mesh::dz;

// The rates written out again from the rate data, apart from xe_rates::rates_for.
struct Hand {
    double xe, ne, wall, excimer_wall;
    double resonant_147, down, up, singlet, triplet, higher, relax;
};
Hand by_hand() {
    Hand h{};
    h.xe = species::BUILT_IN_DENSITY * species::BUILT_IN_XENON_FRACTION;
    h.ne = species::BUILT_IN_DENSITY - h.xe;
    const double pi = 3.141592653589793;
    const double x = species::BUILT_IN_XENON_FRACTION;
    const double d = 1.0 / (x / DN_XE_IN_XE + (1 - x) / DN_XE_IN_NE) / species::BUILT_IN_DENSITY;  // cm^2/s
    h.wall = d * (std::pow(pi / 78e-4, 2) + std::pow(pi / 200e-4, 2));
    h.excimer_wall = EXCIMER_DIFFUSION_RATIO * h.wall;
    h.resonant_147 = escape_factor(h.xe, h.ne, 78e-4, NE_BROADENING_RATIO) * A_RESONANT;
    h.down = K_MIX_XE * h.xe + K_MIX_NE * h.ne;
    h.up = h.down * 0.6 * std::exp(-0.122 / 0.025852);
    h.singlet = K3_RESONANT_XE * h.xe * h.xe + K3_RESONANT_NE * h.xe * h.ne;
    h.triplet = K3_METASTABLE_XE * h.xe * h.xe + K3_METASTABLE_NE * h.xe * h.ne;
    h.higher = A_HIGHER + K_HIGHER_XE * h.xe + K_HIGHER_NE * h.ne;
    h.relax = K_RELAX_XE * h.xe + K_RELAX_NE * h.ne;
    return h;
}

// Photons of each line, and wall losses, per atom starting in 1s4 (or 1s5):
// the chance of each end over the walk between the two levels.
struct Ends {
    double line[LINES];
    double wall;
};
Ends ends_from(const Hand& h, bool from_resonant) {
    const double out_r = h.resonant_147 + h.singlet + h.down + h.wall;
    const double out_m = h.triplet + h.up + h.wall;
    const double round_trip = (h.down / out_r) * (h.up / out_m);
    // Visits of 1s4 and 1s5 per atom.
    const double visits_r = (from_resonant ? 1.0 : h.up / out_m) / (1 - round_trip);
    const double visits_m = (from_resonant ? h.down / out_r : 1.0) / (1 - round_trip);
    const double singlets = visits_r * h.singlet / out_r, triplets = visits_m * h.triplet / out_m;
    const double hot_out = A_SINGLET + h.relax + h.excimer_wall;
    const double relaxed = singlets * h.relax / hot_out;
    Ends e{};
    e.line[LINE_147] = visits_r * h.resonant_147 / out_r;
    e.line[LINE_150] = singlets * A_SINGLET / hot_out;
    e.line[LINE_173] = relaxed * A_SINGLET_RELAXED / (A_SINGLET_RELAXED + h.excimer_wall) +
                       triplets * A_TRIPLET / (A_TRIPLET + h.excimer_wall);
    e.wall = 1.0 - e.line[0] - e.line[1] - e.line[2];
    return e;
}

class XeKinetics : public ::testing::Test {
protected:
    void TearDown() override {
        xe_kinetics::reset();
        mesh::reset();
    }
};

double photons(int line) {
    const auto& t = xe_kinetics::tally();
    return t.photons[xe_kinetics::PHOSPHOR][line] + t.photons[xe_kinetics::FRONT][line];
}

TEST_F(XeKinetics, EscapeFactorGivesTheLifetimesOfTheSlabTable) {
    // The 147 nm lifetime tau/g in a 140 um slab at 500 Torr (1.61e19 cm^-3):
    // 590 ns in pure self-broadening at any Xe fraction; with neon broadening
    // r = 0.05, 430 ns at 5 % and 490 ns at 10 % Xe.
    const double n = 1.61e19, gap = 140e-4, tau = 1.0 / A_RESONANT;
    EXPECT_NEAR(tau / escape_factor(0.05 * n, 0.95 * n, gap, 0.0), 590e-9, 12e-9);
    EXPECT_NEAR(tau / escape_factor(0.30 * n, 0.70 * n, gap, 0.0), 590e-9, 12e-9);
    EXPECT_NEAR(tau / escape_factor(0.05 * n, 0.95 * n, gap, 0.05), 430e-9, 12e-9);
    EXPECT_NEAR(tau / escape_factor(0.10 * n, 0.90 * n, gap, 0.05), 490e-9, 12e-9);
    // The built-in cell: 78 um gap, 14 % Xe, inside the expected 0.35-0.6 us.
    const double xe = species::BUILT_IN_DENSITY * 0.14;
    const double g = escape_factor(xe, species::BUILT_IN_DENSITY - xe, 78e-4, NE_BROADENING_RATIO);
    EXPECT_GT(tau / g, 0.35e-6);
    EXPECT_LT(tau / g, 0.6e-6);
}

// 1s4 and 1s5 after a pulse of 1s4 atoms: the two-level system's exact
// solution, then every line's photons and the wall losses from the
// branchings, and the count of every excitation closing.
TEST_F(XeKinetics, PulseOfExcitationDecaysWithTheRatesLifetimesAndBranchings) {
    const double interval = 1e-8;
    one_node_cell(interval);
    const Hand h = by_hand();
    const double atoms = 1e6;
    xe_kinetics::add_excitation(X, Y, Z, atoms, 2);  // 8.44 eV: 1s4

    // d/dt (r, m) = [[-a, b], [c, -d]] (r, m), r(0) = atoms, m(0) = 0.
    const double a = h.resonant_147 + h.singlet + h.down + h.wall, b = h.up;
    const double c = h.down, d = h.triplet + h.up + h.wall;
    const double mean = -(a + d) / 2, root = std::sqrt((a - d) * (a - d) / 4 + b * c);
    const double l1 = mean + root, l2 = mean - root;
    auto m_at = [&](double t) { return atoms * c * (std::exp(l1 * t) - std::exp(l2 * t)) / (l1 - l2); };
    auto r_at = [&](double t) {
        return atoms * ((l1 + d) * std::exp(l1 * t) - (l2 + d) * std::exp(l2 * t)) / (l1 - l2);
    };
    int steps = 0;
    for (const double t : {0.1e-6, 0.4e-6, 2e-6, 6e-6}) {
        for (; steps * interval < t - interval / 2; ++steps) xe_kinetics::advance(interval);
        EXPECT_NEAR(xe_kinetics::total(RESONANT), r_at(t), 1e-9 * atoms) << t;
        EXPECT_NEAR(xe_kinetics::total(METASTABLE), m_at(t), 1e-9 * atoms) << t;
    }
    // The effective 1s4 lifetime and the metastables' seen in the solution.
    EXPECT_GT(-1 / l2, 0.3e-6);
    EXPECT_LT(-1 / l2, 0.5e-6);
    EXPECT_GT(-1 / l1, 1e-6);
    EXPECT_LT(-1 / l1, 5e-6);

    for (; steps < 30000; ++steps) xe_kinetics::advance(interval);  // 300 us: all gone
    const Ends e = ends_from(h, true);
    for (int l = 0; l < LINES; ++l) EXPECT_NEAR(photons(l), atoms * e.line[l], 1e-9 * atoms) << l;
    EXPECT_NEAR(xe_kinetics::tally().wall_loss, atoms * e.wall, 1e-9 * atoms);
    EXPECT_LT(xe_kinetics::inventory(), 1e-12 * atoms);
}

// Every level's excitations, in an uneven advance, are all accounted for:
// deposited = photons + wall losses + held; 1s5 ends as the 1s5 walk says,
// Xe** as its split between the two.
TEST_F(XeKinetics, EveryLevelsExcitationsEndAsPhotonsOrWallLossesToRounding) {
    one_node_cell(1e-9);
    const Hand h = by_hand();
    double deposited = 0.0;
    for (int level = 1; level <= 6; ++level) {
        xe_kinetics::add_excitation(X, Y, Z, 1000.0 * level, level);
        deposited += 1000.0 * level;
        xe_kinetics::advance(level == 3 ? 7e-9 : 1e-9);
    }
    auto closes = [&] {
        const auto& t = xe_kinetics::tally();
        double ended = t.wall_loss;
        for (int l = 0; l < LINES; ++l) ended += photons(l);
        return ended + xe_kinetics::inventory();
    };
    EXPECT_NEAR(closes(), deposited, 1e-10 * deposited);
    for (int level = 1; level <= 6; ++level) EXPECT_EQ(xe_kinetics::tally().excited[level - 1], 1000.0 * level);
    // No electrons on the node: nothing for them to do.
    for (int s = 0; s < 2; ++s) {
        EXPECT_EQ(xe_kinetics::tally().superelastic[s], 0.0);
        EXPECT_EQ(xe_kinetics::tally().exposure[s], 0.0);
    }
    for (int k = 0; k < 20000; ++k) xe_kinetics::advance(1e-8);
    EXPECT_NEAR(closes(), deposited, 1e-10 * deposited);
    EXPECT_LT(xe_kinetics::inventory(), 1e-12 * deposited);

    // Each Xe** atom lost at the wall before it cascades, or split between the two.
    const double higher_atoms = 1000.0 * (3 + 4 + 5 + 6);
    const double to_m = HIGHER_TO_METASTABLE * h.higher / (h.higher + h.wall);
    const double to_r = (1 - HIGHER_TO_METASTABLE) * h.higher / (h.higher + h.wall);
    const Ends from_r = ends_from(h, true), from_m = ends_from(h, false);
    const double m_atoms = 1000.0 + higher_atoms * to_m, r_atoms = 2000.0 + higher_atoms * to_r;
    for (int l = 0; l < LINES; ++l)
        EXPECT_NEAR(photons(l), m_atoms * from_m.line[l] + r_atoms * from_r.line[l], 1e-9 * deposited) << l;
    // 14 % Xe: the excimer continuum outshines the resonance line.
    EXPECT_GT(photons(LINE_173), photons(LINE_147));
}

// sigma·v of a step cross section sigma0 above the threshold: its
// Maxwellian average times exp(threshold/te) is (2/sqrt(pi)) sigma0 C sqrt(te)
// (1 + threshold/te), C the speed of 1 eV; finite however far the threshold
// lies above te.
double step_sigma_v(double energy) { return 1e-16 * collision_frequencies::SPEED_PER_SQRT_EV * std::sqrt(energy); }

// The Maxwellian average over all energies, by the trapezoid rule in the
// energy, no substitution: the superelastic coefficient of Xe level k.
double superelastic_by_trapezoid(int k, double g, double te) {
    const double xe = species::BUILT_IN_DENSITY * species::BUILT_IN_XENON_FRACTION;
    const double pi = 3.141592653589793;
    const double threshold = std::pow(species::EXC_SPEED_XE[k - 1] / collision_frequencies::SPEED_PER_SQRT_EV, 2);
    const int n = 400000;
    const double top = 60.0 * te + 400.0, h = top / n;
    double sum = 0.0;
    for (int i = 1; i < n; ++i) {
        const double e = i * h;
        const double v = collision_frequencies::SPEED_PER_SQRT_EV * std::sqrt(e);
        sum += collision_frequencies::nu_exc_Xe(k, v) / xe * std::sqrt(e) * std::exp(-e / te);
    }
    return sum * h * 2 / std::sqrt(pi) * std::pow(te, -1.5) * std::exp(threshold / te) / g;
}

TEST_F(XeKinetics, SuperelasticCoefficientsAreTheDetailedBalanceOfTheExcitations) {
    const double pi = 3.141592653589793;
    for (const double threshold : {8.31, 300.0})
        for (const double te : {0.2, 1.0, 10.0}) {
            const double exact = 2 / std::sqrt(pi) * 1e-16 * collision_frequencies::SPEED_PER_SQRT_EV * std::sqrt(te) *
                                 (1 + threshold / te);
            EXPECT_NEAR(maxwell_rate_above(step_sigma_v, threshold, te), exact, 1e-9 * exact) << threshold << " " << te;
        }
    one_node_cell(1e-9);
    for (const double te : {0.5, 2.0, 8.0}) {
        const double m = superelastic_by_trapezoid(1, 5.0, te), r = superelastic_by_trapezoid(2, 3.0, te);
        EXPECT_NEAR(xe_kinetics::superelastic_coefficient(METASTABLE, te), m, 2e-3 * m) << te;
        EXPECT_NEAR(xe_kinetics::superelastic_coefficient(RESONANT, te), r, 2e-3 * r) << te;
    }
    // Outside the table the end values hold.
    EXPECT_EQ(xe_kinetics::superelastic_coefficient(RESONANT, 0.01), xe_kinetics::superelastic_coefficient(RESONANT, 0.2));
    EXPECT_EQ(xe_kinetics::superelastic_coefficient(RESONANT, 50.0), xe_kinetics::superelastic_coefficient(RESONANT, 20.0));
}

// Electrons of a fixed density and temperature on the node, after a pulse of
// 1s4 atoms: 1s5 and 1s4 against the exact two-level solution with the
// electron rates added (mixing 1s5 -> 1s4 at K_ELECTRON_MIX, back by detailed
// balance at T_e, superelastic losses), the 1s5:1s4 ratio settling near the
// Boltzmann ratio at T_e at the mixing rate; the superelastic losses and the
// exposure, the integrals of that solution; the tally closing.
TEST_F(XeKinetics, ElectronsMixTheTwoLevelsAndReturnThemToTheGround) {
    const double interval = 1e-11;
    one_node_cell(interval);
    const double ne = 1e14, te = 2.0;
    mesh::electron_density[mesh::node(1, 1, 1)] = -ne * species::ELECTRON_CHARGE;
    mesh::electron_energy[mesh::node(1, 1, 1)] = 1.5 * te;
    const Hand h = by_hand();
    const double atoms = 1e6;
    xe_kinetics::add_excitation(X, Y, Z, atoms, 2);

    const double up_e = 2e-7 * ne, down_e = up_e * (5.0 / 3.0) * std::exp(0.122 / te);
    const double sup_m = xe_kinetics::superelastic_coefficient(METASTABLE, te) * ne;
    const double sup_r = xe_kinetics::superelastic_coefficient(RESONANT, te) * ne;
    // d/dt (r, m) = [[-a, b], [c, -d]] (r, m), r(0) = atoms, m(0) = 0.
    const double a = h.resonant_147 + h.singlet + h.down + h.wall + down_e + sup_r, b = h.up + up_e;
    const double c = h.down + down_e, d = h.triplet + h.up + h.wall + up_e + sup_m;
    const double mean = -(a + d) / 2, root = std::sqrt((a - d) * (a - d) / 4 + b * c);
    const double l1 = mean + root, l2 = mean - root;
    auto m_at = [&](double t) { return atoms * c * (std::exp(l1 * t) - std::exp(l2 * t)) / (l1 - l2); };
    auto r_at = [&](double t) {
        return atoms * ((l1 + d) * std::exp(l1 * t) - (l2 + d) * std::exp(l2 * t)) / (l1 - l2);
    };
    // Their integrals from 0 to t.
    auto phi = [](double l, double t) { return std::expm1(l * t) / l; };
    auto m_int = [&](double t) { return atoms * c * (phi(l1, t) - phi(l2, t)) / (l1 - l2); };
    auto r_int = [&](double t) { return atoms * ((l1 + d) * phi(l1, t) - (l2 + d) * phi(l2, t)) / (l1 - l2); };

    int steps = 0;
    for (const double t : {5e-9, 20e-9, 100e-9}) {
        for (; steps * interval < t - interval / 2; ++steps) xe_kinetics::advance(interval);
        EXPECT_NEAR(xe_kinetics::total(RESONANT), r_at(t), 1e-4 * atoms) << t;
        EXPECT_NEAR(xe_kinetics::total(METASTABLE), m_at(t), 1e-4 * atoms) << t;
        const auto& tally = xe_kinetics::tally();
        EXPECT_NEAR(tally.superelastic[METASTABLE], sup_m * m_int(t), 1e-4 * sup_m * m_int(t)) << t;
        EXPECT_NEAR(tally.superelastic[RESONANT], sup_r * r_int(t), 1e-4 * sup_r * r_int(t)) << t;
        EXPECT_NEAR(tally.exposure[METASTABLE], ne * m_int(t), 1e-4 * ne * m_int(t)) << t;
        EXPECT_NEAR(tally.exposure[RESONANT], ne * r_int(t), 1e-4 * ne * r_int(t)) << t;
    }
    // The mixing (5.5e7 /s) outruns every other rate: the ratio is within a
    // few per cent of the Boltzmann ratio, far from the gas's 300 K one.
    const double ratio = xe_kinetics::total(METASTABLE) / xe_kinetics::total(RESONANT);
    EXPECT_NEAR(ratio, (5.0 / 3.0) * std::exp(0.122 / te), 0.05 * ratio);

    const auto& tally = xe_kinetics::tally();
    double ended = tally.wall_loss + tally.superelastic[0] + tally.superelastic[1];
    for (int l = 0; l < LINES; ++l) ended += photons(l);
    EXPECT_NEAR(ended + xe_kinetics::inventory(), atoms, 1e-10 * atoms);
    EXPECT_GT(tally.superelastic[0] + tally.superelastic[1], 1e-3 * atoms);
}

// Three nodes across the gap, excited one after another (the last one
// first, then the one before it in the node order) between advances: every
// node advances from its own excitation on, exactly once per advance, so
// the sum is that of three pulses started at their times.
TEST_F(XeKinetics, NodesExcitedLaterJoinTheAdvancesInTheirOrder) {
    const double interval = 1e-8;
    one_node_cell(interval);
    mesh::ihi = 3;
    xe_kinetics::start(species::BUILT_IN_FILL, interval);
    const Hand h = by_hand();
    const double a = h.resonant_147 + h.singlet + h.down + h.wall, b = h.up;
    const double c = h.down, d = h.triplet + h.up + h.wall;
    const double mean = -(a + d) / 2, root = std::sqrt((a - d) * (a - d) / 4 + b * c);
    const double l1 = mean + root, l2 = mean - root;
    auto r_at = [&](double t) { return ((l1 + d) * std::exp(l1 * t) - (l2 + d) * std::exp(l2 * t)) / (l1 - l2); };

    const double atoms = 1e6;
    const int node_of[3] = {3, 1, 2}, excited_at[3] = {0, 5, 12};  // advances
    int next = 0;
    for (int step = 0; step < 40; ++step) {
        if (next < 3 && excited_at[next] == step) {
            xe_kinetics::add_excitation((node_of[next] + 0.5) * mesh::dx, Y, Z, atoms, 2);
            ++next;
        }
        xe_kinetics::advance(interval);
        double expected = 0.0;
        for (int e = 0; e < next; ++e) expected += atoms * r_at((step + 1 - excited_at[e]) * interval);
        ASSERT_NEAR(xe_kinetics::total(RESONANT), expected, 1e-9 * atoms) << step;
    }
}

// Light from a node next to the front plate goes half into it; from the
// middle of a wide channel's gap, less than half.
TEST_F(XeKinetics, FrontPlateGetsItsSolidAngleOfTheLight) {
    one_node_cell(1e-8);
    xe_kinetics::add_excitation(X, Y, Z, 1e6, 1);
    for (int k = 0; k < 20000; ++k) xe_kinetics::advance(1e-8);
    const auto& t = xe_kinetics::tally();
    // Node (1,1,1) sits 1.5 dx = 3 um under the front plate, 15 um beside the mirror plane.
    const double pi = 3.141592653589793;
    const double share = (std::atan2(100e-4 - 1.5e-3, 3e-4) + std::atan2(100e-4 + 1.5e-3, 3e-4)) / (2 * pi);
    EXPECT_GT(share, 0.45);
    const double all = t.photons[0][LINE_173] + t.photons[1][LINE_173];
    EXPECT_NEAR(t.photons[xe_kinetics::FRONT][LINE_173] / all, share, 1e-12);
}

}  // namespace
