#include "electrons/collision_frequencies.hpp"

#include "electrons/electron_collisions.hpp"
#include "electrons/electron_mover.hpp"
#include "electron_test_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace collision_frequencies;
using electron_test::speed_of;

namespace {

double sum_of_processes(double v) {
    double sum = numt_Ne(v) + numt_Xe(v) + nu_ion_Ne(v) + nu_ion_Xe(v);
    for (int k = 1; k <= 6; ++k) sum += nu_exc_Ne(k, v) + nu_exc_Xe(k, v);
    return sum;
}

// Relative closeness for values that rounding in a·v + b may move by an ulp.
void expect_close(double got, double want) { EXPECT_NEAR(got, want, 1e-12 * std::fabs(want)); }

}  // namespace

TEST(CollisionFrequencies, NodeValuesAndLinearityInSpeed) {
    expect_close(numt_Ne(speed_of(3)), 192.5e9);
    expect_close(numt_Ne(speed_of(1000)), 133e9);
    expect_close(numt_Xe(speed_of(0.03)), 91.61e9);
    expect_close(nu_ion_Xe(speed_of(100)), 510.8e9);
    expect_close(nu_ion_Ne(speed_of(400)), 653.2e9);
    expect_close(nu_exc_Ne(3, speed_of(126.7)), 63.55e9);
    expect_close(nu_exc_Xe(6, speed_of(72.84)), 65.07e9);
    // The one node given as a speed, 7 cm/s above the Ne level-4 threshold.
    expect_close(nu_exc_Ne(4, 256611875.63310435), 0.7066e9);
    EXPECT_LT(nu_exc_Ne(4, 256611875.0), 0.7066e9);

    // Between nodes the frequency is linear in speed, not in energy.
    const double v3 = speed_of(3), v10 = speed_of(10);
    expect_close(numt_Ne(0.5 * (v3 + v10)), 0.5 * (192.5e9 + 446.3e9));
    EXPECT_GT(std::fabs(numt_Ne(speed_of(6.5)) - 0.5 * (192.5e9 + 446.3e9)), 1e9);
}

TEST(CollisionFrequencies, NonMonotonicTables) {
    // Elastic Xe: the Ramsauer minimum at 0.6 eV between the low-energy peak
    // and the rise towards 8 eV.
    const double at_peak = numt_Xe(speed_of(0.03));
    const double at_minimum = numt_Xe(speed_of(0.6));
    expect_close(at_minimum, 5.628e9);
    EXPECT_LT(numt_Xe(speed_of(0.6) * 0.999), numt_Xe(speed_of(0.56)));
    EXPECT_GT(numt_Xe(speed_of(0.6) * 1.001), at_minimum);
    EXPECT_GT(at_peak, numt_Xe(speed_of(0.02)));
    EXPECT_GT(at_peak, numt_Xe(speed_of(0.04)));
    expect_close(numt_Xe(speed_of(8)), 698.2e9);

    // Xe level 1 has a local peak at 9.52 eV.
    expect_close(nu_exc_Xe(1, speed_of(9.38)), 2.53e9);
    expect_close(nu_exc_Xe(1, speed_of(9.52)), 5.273e9);
    expect_close(nu_exc_Xe(1, speed_of(9.73)), 3.039e9);
}

TEST(CollisionFrequencies, ZeroAtRestAndBelowEveryThreshold) {
    using namespace electron_collisions;
    EXPECT_EQ(sum_of_processes(0.0), 0.0);
    EXPECT_EQ(numt_Ne(0.0), 0.0);
    EXPECT_EQ(numt_Xe(0.0), 0.0);
    EXPECT_GT(numt_Ne(1.0), 0.0);

    // Each table starts at the threshold that the collision step subtracts:
    // zero at and below it, positive just above. A table starting below its
    // threshold would let the collision step take the root of a negative.
    for (int k = 1; k <= 6; ++k) {
        const double u_xe = EXC_SPEED_XE[k - 1], u_ne = EXC_SPEED_NE[k - 1];
        EXPECT_EQ(nu_exc_Xe(k, u_xe), 0.0) << k;
        EXPECT_EQ(nu_exc_Xe(k, 0.999 * u_xe), 0.0) << k;
        EXPECT_GT(nu_exc_Xe(k, u_xe * (1 + 1e-9)), 0.0) << k;
        EXPECT_EQ(nu_exc_Ne(k, u_ne), 0.0) << k;
        EXPECT_EQ(nu_exc_Ne(k, 0.999 * u_ne), 0.0) << k;
        EXPECT_GT(nu_exc_Ne(k, u_ne * (1 + 1e-9)), 0.0) << k;
    }
    EXPECT_EQ(nu_ion_Xe(ION_SPEED_XE), 0.0);
    EXPECT_GT(nu_ion_Xe(ION_SPEED_XE * (1 + 1e-9)), 0.0);
    EXPECT_EQ(nu_ion_Ne(ION_SPEED_NE), 0.0);
    EXPECT_GT(nu_ion_Ne(ION_SPEED_NE * (1 + 1e-9)), 0.0);

    // Below 8.31 eV only elastic scattering; below 16.62 eV nothing on Ne
    // but elastic scattering.
    const double v8 = speed_of(8.3);
    EXPECT_EQ(sum_of_processes(v8), numt_Ne(v8) + numt_Xe(v8));
    const double v16 = speed_of(16.6);
    for (int k = 1; k <= 6; ++k) EXPECT_EQ(nu_exc_Ne(k, v16), 0.0);
    EXPECT_EQ(nu_ion_Ne(v16), 0.0);

    // A level that does not exist has no frequency.
    EXPECT_EQ(nu_exc_Ne(0, speed_of(50)), 0.0);
    EXPECT_EQ(nu_exc_Xe(7, speed_of(50)), 0.0);
}

TEST(CollisionFrequencies, BeyondTheLastNode) {
    // 1/v beyond the last node: twice the speed, half the frequency.
    expect_close(numt_Xe(speed_of(5000)), 50.35e9);
    expect_close(numt_Xe(2 * speed_of(5000)), 0.5 * 50.35e9);
    expect_close(numt_Ne(4 * speed_of(1000)), 0.25 * 133e9);
    expect_close(nu_ion_Xe(3 * speed_of(1000)), 564.5e9 / 3);
    expect_close(nu_exc_Ne(2, 2 * speed_of(200)), 0.5 * 4.619e9);
    expect_close(nu_exc_Xe(5, 2 * speed_of(100)), 0.5 * 0.08545e9);
    // Ne ionization falls as 1/v^2.
    expect_close(nu_ion_Ne(speed_of(4000)), 398.4e9);
    expect_close(nu_ion_Ne(2 * speed_of(4000)), 0.25 * 398.4e9);

    // Tables that end at 0 stay 0.
    EXPECT_GT(nu_exc_Ne(1, speed_of(360)), 0.0);
    EXPECT_EQ(nu_exc_Ne(1, speed_of(370)), 0.0);
    EXPECT_EQ(nu_exc_Ne(1, speed_of(2000)), 0.0);
    EXPECT_GT(nu_exc_Xe(2, speed_of(300)), 0.0);
    EXPECT_EQ(nu_exc_Xe(2, speed_of(306)), 0.0);
    EXPECT_GT(nu_exc_Xe(1, speed_of(49)), 0.0);
    EXPECT_EQ(nu_exc_Xe(1, speed_of(51)), 0.0);
}

TEST(CollisionFrequencies, TotalEnvelopeIsLinearInEnergy) {
    EXPECT_EQ(nu_total(0.0), 1.852e11);
    expect_close(nu_total(speed_of(0.7)), 1.586e11);
    expect_close(nu_total(speed_of(120)), 3.605e12);
    expect_close(nu_total(speed_of(300)), 3.218e12);
    EXPECT_EQ(nu_total(speed_of(300.001)), 3.218e12);
    EXPECT_EQ(nu_total(speed_of(1e4)), 3.218e12);
    // Halfway in energy between 0.7 and 2 eV.
    EXPECT_NEAR(nu_total(speed_of(1.35)), 0.5 * (1.586e11 + 4.486e11), 1e-6 * 4.486e11);
}

// The null-collision method is exact only if the bound covers the envelope
// and the envelope covers the sum of the processes, at every speed an
// electron can reach.
TEST(CollisionFrequencies, EnvelopeInvariantsOnAFineGridOfSpeeds) {
    const double numax = electron_mover::NUMAX_START;
    const double v_max = speed_of(6000);
    const int points = 400000;
    double smallest_margin = 1e300, energy_at_smallest = -1;
    double largest_total = 0, energy_at_largest = -1;
    int failures = 0;
    for (int n = 0; n <= points; ++n) {
        const double v = v_max * n / points;
        const double total = nu_total(v);
        const double sum = sum_of_processes(v);
        if (!(numax > total) || !(total > sum)) ++failures;
        const double energy = electron_test::energy_of(v, 0, 0);
        if (total - sum < smallest_margin) {
            smallest_margin = total - sum;
            energy_at_smallest = energy;
        }
        if (total > largest_total) {
            largest_total = total;
            energy_at_largest = energy;
        }
    }
    EXPECT_EQ(failures, 0);
    // The figures quoted for the built-in gas: tightest margin about 8.0e10/s
    // near 0.7 eV, highest envelope 3.605e12/s at 120 eV.
    EXPECT_NEAR(smallest_margin, 8.0e10, 0.1e10);
    EXPECT_NEAR(energy_at_smallest, 0.7, 0.05);
    EXPECT_NEAR(largest_total, 3.605e12, 1e8);
    EXPECT_NEAR(energy_at_largest, 120, 0.5);
}

// The parallel mode's bound for the electrons below an energy: it must cover
// every process at every speed below that energy (or the high-energy
// processes would be taken too seldom), and it should not be much above the
// envelope's own largest value there (or the bands would save nothing).
TEST(CollisionFrequencies, BoundBelowAnEnergyCoversEveryProcessBelowIt) {
    for (double cap : {0.3, 0.7, 1.0, 2.0, 4.9, 6.0, 14.8, 20.0, 39.0, 120.0, 500.0}) {
        const double bound = nu_total_max_below(cap);
        double largest_sum = 0, largest_total = 0;
        const int points = 20000;
        for (int n = 0; n <= points; ++n) {
            const double v = speed_of(cap) * n / points;
            largest_sum = std::max(largest_sum, sum_of_processes(v));
            largest_total = std::max(largest_total, nu_total(v));
        }
        EXPECT_LT(largest_sum, bound) << cap << " eV";
        EXPECT_LE(largest_total, bound * (1 + 1e-12)) << cap << " eV";
        EXPECT_GE(largest_total, bound * (1 - 1e-3)) << cap << " eV";
    }
    // Below 0.7 eV the envelope falls from its value at rest; past 120 eV it
    // falls and then stays flat, so the bound with no cap is its peak.
    expect_close(nu_total_max_below(0.5), 1.852e11);
    expect_close(nu_total_max_below(std::numeric_limits<double>::infinity()), 3.605e12);
}
