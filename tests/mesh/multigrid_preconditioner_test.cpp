#include "mesh/multigrid_preconditioner.hpp"

#include "common/lane_sum.hpp"
#include "mesh/cell_setup.hpp"
#include "mesh/potential_solver.hpp"

#include "../../bench/conducting_states.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

using namespace mesh;

namespace {

// The conducting solve's matrix of the loaded state, in the form setup()
// takes: lower couplings (0 towards the boundary layers) and the plates'
// part of the diagonal.
struct Matrix {
    std::vector<double> x, y, z, anchor;
};

Matrix matrix_of_state() {
    Matrix a{std::vector<double>(NODE_COUNT), std::vector<double>(NODE_COUNT), std::vector<double>(NODE_COUNT),
             std::vector<double>(NODE_COUNT)};
    for (int k = 2; k <= NZ - 1; ++k)
        for (int j = 2; j <= NY - 1; ++j)
            for (int i = 2; i <= NX - 1; ++i) {
                const int n = node(i, j, k);
                const potential::Couplings c = potential::node_couplings(i, j, k);
                if (i == 2) a.anchor[n] += c.xm;
                else a.x[n] = c.xm;
                if (i == NX - 1) a.anchor[n] += c.xp;
                a.y[n] = c.ym;
                a.z[n] = c.zm;
            }
    return a;
}

// Random values on the interior nodes, zero on the boundary layers.
std::vector<double> random_interior(unsigned seed) {
    std::mt19937_64 generator(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> v(NODE_COUNT, 0.0);
    for (int k = 2; k <= NZ - 1; ++k)
        for (int j = 2; j <= NY - 1; ++j)
            for (int i = 2; i <= NX - 1; ++i) v[node(i, j, k)] = value(generator);
    return v;
}

// a·b summed along each row of interior nodes, the rows in the plain order.
double dot(const std::vector<double>& a, const std::vector<double>& b) {
    double sum = 0.0;
    for (int k = 2; k <= NZ - 1; ++k)
        for (int j = 2; j <= NY - 1; ++j)
            sum += lane_sum::sum(node(2, j, k), node(NX - 1, j, k), [&](int n, int) { return a[n] * b[n]; });
    return sum;
}

}  // namespace

// The conjugate gradients need a symmetric positive definite preconditioner:
// on a dense state of a run (couplings 1e4 and more times the vacuum ones in
// the plasma), u·Bv = v·Bu to 1e-7 (rounding gives some 6e-9, the same
// colour order before and after the coarse correction 1e-4), and u·Bu > 0. The cycle's
// returned r·z is that dot, and the same input gives the same bits.
TEST(MultigridPreconditioner, IsSymmetricAndPositiveOnADenseState) {
    build_builtin_cell();
    load_conducting_state("solve200");
    const Matrix a = matrix_of_state();
    multigrid_preconditioner::setup(a.x.data(), a.y.data(), a.z.data(), a.anchor.data());

    const std::vector<double> u = random_interior(1), v = random_interior(2);
    std::vector<double> bu(NODE_COUNT, 0.0), bv(NODE_COUNT, 0.0), again(NODE_COUNT, 0.0);
    const double ubu = multigrid_preconditioner::apply(u.data(), bu.data());
    const double vbv = multigrid_preconditioner::apply(v.data(), bv.data());
    EXPECT_EQ(ubu, dot(u, bu));
    EXPECT_GT(ubu, 0.0);
    EXPECT_GT(vbv, 0.0);
    const double ubv = dot(u, bv), vbu = dot(v, bu);
    EXPECT_LT(std::fabs(ubv - vbu), 1e-7 * std::sqrt(ubu * vbv)) << ubv << " " << vbu;

    multigrid_preconditioner::apply(u.data(), again.data());
    EXPECT_EQ(again, bu);
    multigrid_preconditioner::reset();
}
