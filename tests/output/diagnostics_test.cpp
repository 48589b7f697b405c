#include "output/diagnostics.hpp"

#include "common/quiet_geometry.hpp"
#include "common/temp_folder.hpp"
#include "driver/main_program.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_storage.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

using namespace mesh;

namespace {

// The geometry needs "input_file.txt" in the working directory; each test
// runs in a fresh folder holding an empty one.
class Diagnostics : public ::testing::Test {
protected:
    TempFolder folder;

    void SetUp() override {
        driver::reset_all();
        build_geometry_quietly();
        driver::nstep = 21;
        driver::t = 2e-9;
        driver::dt = 1e-10;
        driver::diag_flag = true;
    }

    void TearDown() override { driver::reset_all(); }

    static std::vector<std::string> printed_lines() {
        testing::internal::CaptureStdout();
        diagnostics::print_diagnostics();
        std::istringstream text(testing::internal::GetCapturedStdout());
        std::vector<std::string> lines;
        for (std::string line; std::getline(text, line);) lines.push_back(line);
        return lines;
    }
};

void set_ions(int i, int j, int k, double neon, double xenon) {
    ion_density[ion_slot(1, i, j, k)] = neon;
    ion_density[ion_slot(2, i, j, k)] = xenon;
}

}  // namespace

TEST_F(Diagnostics, BlockOfAHandBuiltState) {
    electrodes::electrode_voltage[1] = 180.0;
    electrodes::electrode_voltage[2] = -180.5;
    electrodes::electrode_voltage[3] = 0.0;
    set_ions(20, 30, 5, 3e-9, 1e-9);
    electron_density[node(16, 50, 3)] = -2e-9;
    for (int n = 0; n < 3; ++n) PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::ions, ELECTRON_CHARGE, 0, 0.005, 0.01, 0.005, 0, 0, 0, 1);
    for (int n = 0; n < 2; ++n) PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::electrons, -ELECTRON_CHARGE, 0, 0.005, 0.01, 0.005, 0, 0, 0, 0);

    // Each component's extremes sit on the outermost faces of the gas box;
    // larger values just outside it must not count.
    ex[node(ilo, jlo, klo)] = -300.0;
    ex[node(ihi + 1, jhi, khi)] = 5000.0;
    ex[node(ilo - 1, jlo, klo)] = -1e6;
    ex[node(ihi + 2, jhi, khi)] = 1e6;
    ey[node(ihi, jhi + 1, khi)] = 7.0;
    ey[node(ihi + 1, jhi + 1, khi)] = 1e6;
    ey[node(ilo, jlo - 1, klo)] = -1e6;
    ez[node(ilo, jlo, khi + 1)] = -42.0;
    ez[node(ilo, jlo, khi + 2)] = -1e6;
    ez[node(ilo, jlo, klo - 1)] = 1e6;

    driver::t11 = 0.5;
    driver::t22 = 1.25;
    driver::t33 = 2.0;
    driver::current_cpu = -1.0;
    driver::start_cpu = driver::processor_time();
    const std::vector<std::string> lines = printed_lines();

    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[0], " " + std::string(67, '='));
    EXPECT_EQ(lines[1], " Number of mesh points:    39                  Gap Hight: 7.800E-03 cm");
    EXPECT_EQ(lines[2], " Step number:        21    Time:       2.000ns   Time Step:  1.00E-01ns");
    EXPECT_EQ(lines[3], " Vs1=     180.00          Vs2=   -180.50          Vadd=       0.00");
    EXPECT_EQ(lines[4], " DIAGNOSTICS:");
    EXPECT_EQ(lines[5], std::string(40, ' ') + "Qvolume   2.4965840488751269E+03");
    EXPECT_EQ(lines[6], "ION-DENS max=     2.49658E+10      at position (I,K,J)=( 19, 29,  4)");
    EXPECT_EQ(lines[7], "ELE-DENS max=     1.24829E+10      at position (I,K,J)=( 15, 49,  2)");
    EXPECT_EQ(lines[8], " NUMBER OF IONS = 3");
    EXPECT_EQ(lines[9], " NUMBER OF ELES = 2");
    EXPECT_EQ(lines[10], " Ex field: ");
    EXPECT_EQ(lines[11], " -3.0000000000000000E+02 5.0000000000000000E+03");
    EXPECT_EQ(lines[12], " Ey field: ");
    EXPECT_EQ(lines[13], " 0.0000000000000000E+00 7.0000000000000000E+00");
    EXPECT_EQ(lines[14], " Ez field: ");
    EXPECT_EQ(lines[15], " -4.2000000000000000E+01 0.0000000000000000E+00");
    EXPECT_EQ(lines[16], "TIME STEP=      1.0000000000000000E-10");
    EXPECT_EQ(lines[17], "");
    EXPECT_EQ(lines[19], " t11,t22,t33");
    EXPECT_EQ(lines[20], " 5.0000000000000000E-01 1.2500000000000000E+00 2.0000000000000000E+00");
    EXPECT_EQ(lines[21], "");

    // The elapsed time is the reading handed to the run log.
    EXPECT_GE(driver::current_cpu, driver::start_cpu);
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[18], m, std::regex(" {20}Time elapsed=( *-?[0-9]+\\.[0-9]{2}) sec")));
    EXPECT_EQ(m[1].length(), 10);
    EXPECT_NEAR(std::stod(m[1]), driver::current_cpu - driver::start_cpu, 0.0051);
}

TEST_F(Diagnostics, PeaksGoToTheEarliestNodeOfATie) {
    // With nothing on the mesh every node ties: the first one wins.
    std::vector<std::string> empty = printed_lines();
    ASSERT_EQ(empty.size(), 22u);
    EXPECT_EQ(empty[5], std::string(40, ' ') + "Qvolume   0.0000000000000000E+00");
    EXPECT_EQ(empty[6], "ION-DENS max=     0.00000E+00      at position (I,K,J)=(  0,  0,  0)");
    EXPECT_EQ(empty[7], "ELE-DENS max=     0.00000E+00      at position (I,K,J)=(  0,  0,  0)");

    // Equal totals in different species mixes; the scan runs i fastest, k
    // slowest, so (40, 10, 5) comes before (20, 30, 5) and (10, 30, 6).
    set_ions(20, 30, 5, 2e-9, 0.0);
    set_ions(40, 10, 5, 1e-9, 1e-9);
    set_ions(10, 30, 6, 0.0, 2e-9);
    electron_density[node(30, 60, 4)] = -1e-9;
    electron_density[node(29, 60, 4)] = -1e-9;
    electron_density[node(30, 59, 7)] = -1e-9;
    const std::vector<std::string> lines = printed_lines();
    ASSERT_EQ(lines.size(), 22u);
    EXPECT_EQ(lines[6].substr(lines[6].rfind('(')), "( 39,  9,  4)");
    EXPECT_EQ(lines[7].substr(lines[7].rfind('(')), "( 28, 59,  3)");

    // A strictly larger value later in the scan takes over.
    set_ions(66, 136, 12, 2e-9, 1e-12);
    EXPECT_EQ(printed_lines()[6], "ION-DENS max=     1.24892E+10      at position (I,K,J)=( 65,135, 11)");
}

TEST_F(Diagnostics, PrintsOnlyOnFlaggedStepsAndAtStepOne) {
    driver::current_cpu = -1.0;
    driver::diag_flag = false;
    driver::nstep = 22;
    EXPECT_TRUE(printed_lines().empty());
    EXPECT_EQ(driver::current_cpu, -1.0);  // no reading either

    driver::nstep = 1;
    EXPECT_EQ(printed_lines().size(), 22u);
    EXPECT_GE(driver::current_cpu, 0.0);
}

// The parallel mode scans the planes on the threads and merges them in plane
// order: the same peaks (ties to the earliest node, also across planes) and
// field ranges as one scan, and a charge sum that no thread count changes.
TEST_F(Diagnostics, PlaneByPlaneScanOnThreadsReportsWhatOneScanDoes) {
    // Ties across planes and within one; extremes in the first and last
    // planes of the gas box and on a plane boundary of the scan.
    set_ions(20, 30, 3, 2e-9, 0.0);
    set_ions(40, 10, 9, 1e-9, 1e-9);
    set_ions(5, 5, 3, 1e-9, 1e-9);
    for (int k = 1; k <= NZ; ++k) set_ions(7, 3 * k, k, 1.1e-10 * k, 3e-11);
    electron_density[node(30, 60, 11)] = -1e-9;
    electron_density[node(2, 2, 4)] = -1e-9;
    electron_density[node(66, 100, 4)] = -1e-9;
    ex[node(ilo, jlo, klo)] = -300.0;
    ex[node(ilo + 3, jhi, khi)] = -300.0;
    ex[node(ihi + 1, jhi, khi)] = 5000.0;
    ey[node(ihi, jhi + 1, klo + 1)] = 7.0;
    ez[node(ilo, jlo, khi + 1)] = -42.0;
    ez[node(ilo + 1, jlo + 2, klo)] = 42.0;
    const std::vector<std::string> exact = printed_lines();

    std::vector<std::string> first;
    for (int threads : {1, 2, 3, 8}) {
        parallel_mode::configure(true, threads, 1, 2);
        const std::vector<std::string> lines = printed_lines();
        parallel_mode::reset();
        ASSERT_EQ(lines.size(), exact.size());
        for (std::size_t n = 6; n <= 15; ++n) EXPECT_EQ(lines[n], exact[n]) << threads << " threads, line " << n;
        // The sum of planes rounds differently from one running sum, by
        // a few units in the last place at most.
        const double sum = std::stod(lines[5].substr(48)), one_sum = std::stod(exact[5].substr(48));
        EXPECT_NEAR(sum, one_sum, 1e-14 * one_sum);
        if (first.empty()) first = lines;
        EXPECT_EQ(lines[5], first[5]) << threads << " threads";
    }
    EXPECT_EQ(exact[6], "ION-DENS max=     1.24829E+10      at position (I,K,J)=(  4,  4,  2)");
    EXPECT_EQ(exact[7], "ELE-DENS max=     6.24146E+09      at position (I,K,J)=(  1,  1,  3)");
    EXPECT_EQ(exact[11], " -3.0000000000000000E+02 5.0000000000000000E+03");
}
