#include "mesh/conducting_solve.hpp"

#include "common/fatal_error.hpp"
#include "common/thread_team.hpp"
#include "mesh/cell_setup.hpp"
#include "mesh/charge_and_field.hpp"
#include "mesh/plasma_field.hpp"

#include "../../bench/conducting_states.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace mesh;
using potential::SOR_TOLERANCE;

namespace {

constexpr double E = ELECTRON_CHARGE;
constexpr double FROZEN = 1e-8;  // s, the field's frozen time between sparse solves

bool is_gas(int i, int j, int k) { return material_map[padded(i, j, k)] == 0; }

// Wall charge of both signs on the front wall, the rear wall and the rib,
// and an ion cloud in the gas; scale varies the source between solves.
void load_charges(double scale) {
    wall_charge_x[padded(15, 70, 5)] = -2e-6 * scale;
    wall_charge_x[padded(54, 40, 3)] = 3e-6 * scale;
    wall_charge_z[padded(25, 90, 8)] = 1e-6 * scale;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (is_gas(i, j, k)) {
                    const double r2 =
                        std::pow((i - 30) / 6.0, 2) + std::pow((j - 50) / 20.0, 2) + std::pow((k - 5) / 3.0, 2);
                    ion_density[ion_slot(1, i, j, k)] = 3e11 * E * scale * std::exp(-r2);
                }
}

void set_voltages(double v1, double v2, double v3) {
    electrodes::electrode_voltage[1] = v1;
    electrodes::electrode_voltage[2] = v2;
    electrodes::electrode_voltage[3] = v3;
}

double largest_difference(const std::vector<double>& a, const double* b) {
    double largest = 0.0;
    for (int n = 0; n < NODE_COUNT; ++n) largest = std::max(largest, std::fabs(a[n] - b[n]));
    return largest;
}

// The change one Jacobi update of the discrete equation would make at each
// interior node, from the relaxation's own coefficients and the unscaled
// source: the largest of them, V.
double largest_jacobi_change(const std::vector<double>& source) {
    double largest = 0.0;
    for (int k = 2; k <= NZ - 1; ++k)
        for (int j = 2; j <= NY - 1; ++j)
            for (int i = 2; i <= NX - 1; ++i) {
                const int n = node(i, j, k);
                const double update = source[n] * sor_center[n] + sor_xm[n] * phi[node(i - 1, j, k)] +
                                      sor_xp[n] * phi[node(i + 1, j, k)] + sor_ym[n] * phi[node(i, j - 1, k)] +
                                      sor_yp[n] * phi[node(i, j + 1, k)] + sor_zm[n] * phi[node(i, j, k - 1)] +
                                      sor_zp[n] * phi[node(i, j, k + 1)];
                largest = std::max(largest, std::fabs(update - phi[n]));
            }
    return largest;
}

// A plasma ball in the gas conducting `contrast` times the vacuum coupling
// on its faces (through the plasma field's couplings), carrying a small net
// charge, with the electrodes at sustain voltages.
void load_conducting_ball(double contrast) {
    const double sigma = contrast / (FROZEN * INV_EPS0);         // S/cm
    const double rho = sigma / plasma_field::electron_mobility();  // C/cm^3
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                if (!is_gas(i, j, k)) continue;
                const double r2 =
                    std::pow((i - 34) / 12.0, 2) + std::pow((j - 69) / 40.0, 2) + std::pow((k - 5) / 3.0, 2);
                if (r2 > 1.0) continue;
                electron_density[node(i, j, k)] = -rho;
                ion_density[ion_slot(1, i, j, k)] = rho * (1.0 + 1e-4 * std::cos(0.3 * j));
            }
    set_voltages(180.0, 0.0, 60.0);
    field::build_charge_source();
    plasma_field::add_electron_charge();
    plasma_field::load_conducting_couplings(FROZEN);
    potential::setup_sor_coefficients();  // for the relaxation and the Jacobi check
}

struct ConductingSolve : ::testing::Test {
    void SetUp() override {
        build_builtin_cell();
        conducting_solve::reset();
    }
    void TearDown() override { plasma_field::reset(); }
};

}  // namespace

// In vacuum both solves solve the same equation: a first solve from zero and
// a second from the extrapolated history, with new voltages and charges.
// Each stops on a residual, not on the error, so each is compared with a
// solve converged a million times further: the conjugate gradients' error is
// no larger than the relaxation's, and the two agree to a fraction of a
// millivolt. Both leave the same boundary layers, history and scaled source.
TEST_F(ConductingSolve, InVacuumItAgreesWithTheRelaxation) {
    set_voltages(180.0, -40.0, 90.0);
    load_charges(1.0);
    for (int solve = 0; solve < 2; ++solve) {
        if (solve == 1) {
            set_voltages(120.0, 30.0, -20.0);
            load_charges(1.7);
        }
        field::build_charge_source();
        const SolverState entry = SolverState::take();
        conducting_solve::solve_potential(1e-6 * SOR_TOLERANCE);
        const std::vector<double> exact(phi, phi + NODE_COUNT);

        entry.restore();
        potential::solve_potential();
        const SolverState relaxed = SolverState::take();

        entry.restore();
        conducting_solve::solve_potential();
        EXPECT_GT(conducting_solve::iterations_in_last_solve, 0);
        EXPECT_LE(largest_jacobi_change(entry.source), SOR_TOLERANCE * (1 + 1e-9)) << solve;
        const double relaxed_error = largest_difference(exact, relaxed.phi_.data());
        const double error = largest_difference(exact, phi);
        EXPECT_LE(error, relaxed_error) << solve;
        EXPECT_LT(largest_difference(relaxed.phi_, phi), 1e-3) << solve;  // V, of 180
        EXPECT_EQ(largest_difference(relaxed.phi_old_, phi_old), 0.0) << solve;
        EXPECT_LT(largest_difference(relaxed.source, charge_source), 1e-12) << solve;
        for (int k = 1; k <= NZ; ++k)
            for (int i = 1; i <= NX; ++i) ASSERT_EQ(phi[node(i, 1, k)], phi[node(i, 2, k)]);
        EXPECT_EQ(phi[node(1, 30, 5)], solve == 0 ? 180.0 : 120.0);  // under electrode 1
    }
}

// With no charge and every electrode at 0 V the guess is the answer.
TEST_F(ConductingSolve, NothingToSolveTakesNoIteration) {
    conducting_solve::solve_potential();
    EXPECT_EQ(conducting_solve::iterations_in_last_solve, 0);
    EXPECT_TRUE(std::all_of(phi, phi + NODE_COUNT, [](double v) { return v == 0.0; }));
}

// A plasma conducting 1e4 times the vacuum around it (at 1e3 the relaxation
// still needs some 4800 sweeps and stops 0.015 V off): the relaxation runs
// into its sweep limit, the conjugate gradients converge well within theirs,
// and their potential satisfies the discrete equation to the tolerance at
// every node. Inside the ball the potential is nearly flat, and the same
// input gives the same bits.
TEST_F(ConductingSolve, AStronglyConductingPlasmaConvergesWhereTheRelaxationStalls) {
    load_conducting_ball(1e4);
    const std::vector<double> source(charge_source, charge_source + NODE_COUNT);
    conducting_solve::solve_potential();
    EXPECT_LT(conducting_solve::iterations_in_last_solve, conducting_solve::MAX_ITERATIONS / 4);
    EXPECT_LE(largest_jacobi_change(source), SOR_TOLERANCE * (1 + 1e-9));
    const double centre = phi[node(34, 69, 5)];
    EXPECT_GT(centre, 1.0);
    EXPECT_LT(centre, 179.0);
    EXPECT_NEAR(phi[node(34, 80, 5)], centre, 0.05 * std::fabs(centre));
    const std::vector<double> first(phi, phi + NODE_COUNT);

    potential::reset();
    std::fill(phi, phi + NODE_COUNT, 0.0);
    std::copy(source.begin(), source.end(), charge_source);
    conducting_solve::solve_potential();
    EXPECT_TRUE(std::equal(first.begin(), first.end(), phi));

    potential::reset();
    std::fill(phi, phi + NODE_COUNT, 0.0);
    std::copy(source.begin(), source.end(), charge_source);
    testing::internal::CaptureStdout();
    EXPECT_THROW(potential::solve_potential(), pdp::FatalError);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("ERROR: the potential solve did not converge", 0), 0u) << out;
}

// The solve leaves charge_source divided by its diagonal with the very
// numbers the relaxation's coefficients hold (the checkpoint writes it), though
// it reads only the face couplings: here conducting ones, loaded for the
// relaxation too, so that the two can be compared.
TEST_F(ConductingSolve, LeavesTheSourceDividedAsTheRelaxationWould) {
    load_conducting_ball(1e3);
    const std::vector<double> source(charge_source, charge_source + NODE_COUNT);
    conducting_solve::solve_potential();
    int compared = 0;
    for (int k = 2; k <= NZ - 1; ++k)
        for (int j = 2; j <= NY - 1; ++j)
            for (int i = 2; i <= NX - 1; ++i) {
                const int n = node(i, j, k);
                ASSERT_EQ(charge_source[n], source[n] * sor_center[n]) << i << " " << j << " " << k;
                compared += source[n] != 0.0;
            }
    EXPECT_GT(compared, 1000);
}

// At 5e11 V the rounding of phi alone exceeds the tolerance: the solve stops
// at its iteration limit with a message naming the solve and the residual.
TEST_F(ConductingSolve, ASolveThatCannotConvergeStopsAtTheIterationLimit) {
    set_voltages(5e11, 0.0, 0.0);
    testing::internal::CaptureStdout();
    EXPECT_THROW(conducting_solve::solve_potential(), pdp::FatalError);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(conducting_solve::iterations_in_last_solve, conducting_solve::MAX_ITERATIONS);
    EXPECT_EQ(out.rfind("ERROR: the conducting potential solve did not converge in " +
                            std::to_string(conducting_solve::MAX_ITERATIONS) + " iterations:\n",
                        0),
              0u)
        << out;
    EXPECT_NE(out.find("largest residual over the diagonal is "), std::string::npos) << out;
}

// A NaN in the source would pass a largest-residual test unseen; the solve
// stops the run instead of writing a NaN potential.
TEST_F(ConductingSolve, ANonFiniteSourceStopsTheRun) {
    set_voltages(180.0, 0.0, 0.0);
    charge_source[node(30, 60, 5)] = std::nan("");
    testing::internal::CaptureStdout();
    EXPECT_THROW(conducting_solve::solve_potential(), pdp::FatalError);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("ERROR: the conducting potential solve met a value that is not finite:\n", 0), 0u) << out;
}

// A dense state of a --plasma-field run (a saved benchmark input): both
// preconditioners meet the tolerance at every node, the multigrid in at most
// a quarter of the factor's iterations (5 against 78), and both potentials
// lie within a millivolt of a solve converged ten thousand times further,
// the multigrid's no further than the factor's (0.01 mV against 0.5).
TEST_F(ConductingSolve, OnADenseStateOfARunTheMultigridAgreesWithTheFactorInAQuarterOfTheIterations) {
    using conducting_solve::Preconditioner;
    load_conducting_state("solve200");
    potential::setup_sor_coefficients();  // the conducting ones, for the Jacobi check
    const SolverState entry = SolverState::take();
    conducting_solve::solve_potential(1e-4 * SOR_TOLERANCE, Preconditioner::incomplete_cholesky);
    const std::vector<double> exact(phi, phi + NODE_COUNT);

    entry.restore();
    conducting_solve::solve_potential(SOR_TOLERANCE, Preconditioner::incomplete_cholesky);
    const int factor_iterations = conducting_solve::iterations_in_last_solve;
    EXPECT_LE(largest_jacobi_change(entry.source), SOR_TOLERANCE * (1 + 1e-9));
    const double factor_error = largest_difference(exact, phi);

    entry.restore();
    conducting_solve::solve_potential(SOR_TOLERANCE, Preconditioner::multigrid);
    const int multigrid_iterations = conducting_solve::iterations_in_last_solve;
    EXPECT_LE(largest_jacobi_change(entry.source), SOR_TOLERANCE * (1 + 1e-9));
    const double multigrid_error = largest_difference(exact, phi);

    EXPECT_GT(multigrid_iterations, 0);
    EXPECT_LE(4 * multigrid_iterations, factor_iterations);
    EXPECT_LT(factor_error, 1e-3);  // V
    EXPECT_LE(multigrid_error, factor_error);
}

// Shared among 2 or 3 threads the solve gives the bits of one thread, with
// either preconditioner, on a dense state (whose row sums and multigrid
// boxes each thread must add in the same order).
TEST_F(ConductingSolve, GivesTheSameBitsOnAnyNumberOfThreads) {
    using conducting_solve::Preconditioner;
    load_conducting_state("solve200");
    const SolverState entry = SolverState::take();
    for (const Preconditioner preconditioner : {Preconditioner::multigrid, Preconditioner::incomplete_cholesky}) {
        SolverState alone{};
        int iterations = 0;
        for (int threads : {1, 2, 3}) {
            entry.restore();
            conducting_solve::set_thread_count(threads);
            conducting_solve::solve_potential(SOR_TOLERANCE, preconditioner);
            const SolverState solved = SolverState::take();
            if (threads == 1) {
                alone = solved;
                iterations = conducting_solve::iterations_in_last_solve;
                continue;
            }
            EXPECT_EQ(conducting_solve::iterations_in_last_solve, iterations) << threads;
            EXPECT_TRUE(solved.phi_ == alone.phi_) << threads;
            EXPECT_TRUE(solved.source == alone.source) << threads;
        }
    }
}

// On a clock by which a solve on two threads takes ten times as long as one
// alone, the solves after the first two keep to one thread, and every
// sixteenth tries the two again.
TEST_F(ConductingSolve, KeepsToOneThreadWhileThatIsFaster) {
    static double now = 0.0;
    static bool started = false;
    thread_team::use_clock([] {
        if (started) now += conducting_solve::threads_in_last_solve > 1 ? 10.0 : 1.0;
        started = !started;
        return now;
    });
    set_voltages(180.0, 0.0, 0.0);
    conducting_solve::set_thread_count(2);
    std::vector<int> threads;
    for (int solve = 1; solve <= 17; ++solve) {
        conducting_solve::solve_potential();
        threads.push_back(conducting_solve::threads_in_last_solve);
    }
    thread_team::use_clock(nullptr);
    std::vector<int> expected(17, 1);
    expected[0] = expected[15] = 2;
    EXPECT_EQ(threads, expected);
}
