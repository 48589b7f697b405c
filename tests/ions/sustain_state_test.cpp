#include "ions/sustain_state.hpp"

#include "common/fortran_format.hpp"
#include "common/quiet_geometry.hpp"
#include "common/temp_folder.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "input/voltage_file.hpp"
#include "mesh/charge_and_field.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

using namespace mesh;

namespace {

constexpr double EPS0 = 1.0 / INV_EPS0;  // F/cm

int material(int i, int j, int k) { return material_map[padded(i, j, k)]; }

// Each test runs in its own scratch folder holding an empty "input_file.txt",
// with the built-in cell.
class SustainState : public ::testing::Test {
protected:
    TempFolder folder;
    void SetUp() override {
        mesh::reset();
        sustain_state::reset();
        electrodes::reset();
        voltage_file::reset();
        FILE_MANAGER::reset();
        build_geometry_quietly();
    }
};

// "SUSTAIN_STATE.txt" as records: each label line followed by its values.
struct SustainFile {
    std::vector<std::string> labels;
    std::vector<std::vector<double>> values;
};

SustainFile read_sustain_file(const std::vector<long>& counts) {
    SustainFile file;
    std::ifstream in("SUSTAIN_STATE.txt");
    std::string line;
    for (long count : counts) {
        if (!std::getline(in, line)) break;
        file.labels.push_back(line);
        std::vector<double> record;
        while (static_cast<long>(record.size()) < count && std::getline(in, line)) {
            std::istringstream items(line);
            double v;
            while (items >> v) record.push_back(v);
        }
        file.values.push_back(std::move(record));
    }
    EXPECT_FALSE(std::getline(in, line)) << "unexpected line: " << line;
    return file;
}

// With the gas field-free, each interface carries the surface charge
// eps0·eps·(V_gas - V_dielectric)/(h/2), stored per unit cell volume (/h):
// positive where the gas lies above the dielectric's potential.
TEST_F(SustainState, WallChargesAreTheSurfaceChargesOfAFieldFreeGap) {
    const double front = 60.0, rear = 80.0, rib = 90.0;
    for (double gas : {100.0, -40.0}) {
        std::fill(wall_charge_x, wall_charge_x + PADDED_COUNT, 0.0);
        std::fill(wall_charge_z, wall_charge_z + PADDED_COUNT, 0.0);
        for (int k = 1; k <= NZ; ++k)
            for (int j = 1; j <= NY; ++j)
                for (int i = 1; i <= NX; ++i)
                    phi[node(i, j, k)] = material(i, j, k) == 0 ? gas : i <= 14 ? front : i >= 54 ? rear : rib;
        const double charge = sustain_state::place_sustain_wall_charges();

        const double s_front = EPS0 * 11.0 * (gas - front) / (0.5 * dx) / dx;
        const double s_rear = EPS0 * 8.0 * (gas - rear) / (0.5 * dx) / dx;
        const double s_rib = EPS0 * 8.0 * (gas - rib) / (0.5 * dz) / dz;  // the phosphor faces the gas
        EXPECT_NEAR(wall_charge_x[padded(ilo, 40, 6)], s_front, 1e-12 * std::fabs(s_front));
        EXPECT_NEAR(wall_charge_x[padded(ihi + 1, 136, 2)], s_rear, 1e-12 * std::fabs(s_rear));
        EXPECT_NEAR(wall_charge_z[padded(ilo, 2, khi + 1)], s_rib, 1e-12 * std::fabs(s_rib));
        // Only the wall cells of the gas box are charged, and the charge
        // magnitudes add up to the transferable charge.
        auto count_nonzero = [](const double* a) {
            return std::count_if(a, a + PADDED_COUNT, [](double v) { return v != 0.0; });
        };
        auto magnitude = [](const double* a) {
            return std::accumulate(a, a + PADDED_COUNT, 0.0, [](double m, double v) { return m + std::fabs(v); });
        };
        EXPECT_EQ(count_nonzero(wall_charge_x), 2 * 135 * 8);
        EXPECT_EQ(count_nonzero(wall_charge_z), 39 * 135);
        const double expected = 135 * 8 * (std::fabs(s_front) + std::fabs(s_rear)) + 39 * 135 * std::fabs(s_rib);
        EXPECT_NEAR(magnitude(wall_charge_x) + magnitude(wall_charge_z), expected, 1e-12 * expected);
        EXPECT_NEAR(charge, expected * dx * dy * dz, 1e-12 * expected * dx * dy * dz);
    }
}

TEST_F(SustainState, ZeroVoltagesGiveAnUnchargedStart) {
    // Leftovers of anything before must not survive the set-up.
    std::fill(phi, phi + NODE_COUNT, 3.0);
    std::fill(wall_charge_x, wall_charge_x + PADDED_COUNT, 1e-5);
    std::fill(wall_charge_y, wall_charge_y + PADDED_COUNT, 1e-5);
    std::fill(wall_charge_z, wall_charge_z + PADDED_COUNT, 1e-5);
    testing::internal::CaptureStdout();
    sustain_state::prepare_sustain_state(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              " PH_M= 0.0000000000000000E+00\n"
              " 42120\n"
              " Dtr=\n"
              " 0.0000000D+00 0.0000000D+00\n"
              " max S1= 0.0000000000000000E+00\n"
              " max S3= 0.0000000000000000E+00\n");
    EXPECT_EQ(sustain_state::gas_node_count, 39 * 135 * 8);
    EXPECT_EQ(sustain_state::transferable_charge, 0.0);
    EXPECT_EQ(sustain_state::transferable_density, 0.0);
    EXPECT_EQ(sustain_state::gap_potential, 0.0);
    for (const double* a : {wall_charge_x, wall_charge_y, wall_charge_z})
        EXPECT_TRUE(std::all_of(a, a + PADDED_COUNT, [](double v) { return v == 0.0; }));
    EXPECT_TRUE(std::all_of(phi, phi + NODE_COUNT, [](double v) { return v == 0.0; }));
}

// The example's Smart Start voltages. The file holds, in order, the
// figures, the voltages, phi and the x and z wall charges, exactly as the
// set-up left them; only the electrodes of the cell get new voltages.
TEST_F(SustainState, FileRecordsHoldTheSetUpInOrder) {
    voltage_file::n_electrodes = 3;
    voltage_file::smart_start_voltage[1] = 180.0;
    voltage_file::smart_start_voltage[2] = 0.0;
    voltage_file::smart_start_voltage[3] = 0.0;
    voltage_file::smart_start_voltage[4] = 7.0;  // no electrode 4 in the cell
    electrodes::electrode_voltage[2] = 99.0;
    electrodes::electrode_voltage[4] = 5.0;
    electrodes::electrode_voltage[40] = -2.5;

    testing::internal::CaptureStdout();
    sustain_state::prepare_sustain_state(1);
    const std::string console = testing::internal::GetCapturedStdout();

    const SustainFile file = read_sustain_file({1, 1, 1, 40, NODE_COUNT, PADDED_COUNT, PADDED_COUNT});
    const std::vector<std::string> labels = {" number of transferable particles=",
                                             " averaging density of transferable particles=",
                                             " potential of gap in sustain state=",
                                             " VOL=",
                                             " PHI=",
                                             " S1=",
                                             " S3="};
    ASSERT_EQ(file.labels, labels);
    const std::vector<long> sizes = {1, 1, 1, 40, NODE_COUNT, PADDED_COUNT, PADDED_COUNT};
    for (std::size_t r = 0; r < sizes.size(); ++r) ASSERT_EQ(static_cast<long>(file.values[r].size()), sizes[r]) << r;

    EXPECT_EQ(file.values[0][0], sustain_state::transferable_charge);
    EXPECT_EQ(file.values[1][0], sustain_state::transferable_density);
    EXPECT_EQ(file.values[2][0], sustain_state::gap_potential);
    const std::vector<double>& vol = file.values[3];
    EXPECT_EQ(vol[0], 180.0);
    EXPECT_EQ(vol[1], 0.0);
    EXPECT_EQ(vol[2], 0.0);
    EXPECT_EQ(vol[3], 5.0);
    EXPECT_EQ(vol[39], -2.5);
    EXPECT_TRUE(std::equal(phi, phi + NODE_COUNT, file.values[4].begin()));
    EXPECT_TRUE(std::equal(wall_charge_x, wall_charge_x + PADDED_COUNT, file.values[5].begin()));
    EXPECT_TRUE(std::equal(wall_charge_z, wall_charge_z + PADDED_COUNT, file.values[6].begin()));

    // Console: the floating potential, the gas node count, the transferable
    // density and charge side by side, then the signed maxima.
    const double max_s1 = *std::max_element(wall_charge_x, wall_charge_x + PADDED_COUNT);
    const double max_s3 = *std::max_element(wall_charge_z, wall_charge_z + PADDED_COUNT);
    const std::string expected_tail =
        " 42120\n Dtr=\n" + fortran::D(sustain_state::transferable_density, 14, 7) +
        fortran::D(sustain_state::transferable_charge, 14, 7) + "\n" +
        fortran::FreeLine().item("max S1=").item(max_s1).str() + "\n" +
        fortran::FreeLine().item("max S3=").item(max_s3).str() + "\n";
    EXPECT_EQ(console.rfind(" PH_M= ", 0), 0u) << console;
    ASSERT_GE(console.size(), expected_tail.size());
    EXPECT_EQ(console.substr(console.size() - expected_tail.size()), expected_tail);

    // Every gas node sits at the gap potential, and the charge spread over
    // the gas volume is the transferable density.
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) ASSERT_EQ(phi[node(i, j, k)], sustain_state::gap_potential);
    EXPECT_DOUBLE_EQ(sustain_state::transferable_density * 42120 * dx * dy * dz, sustain_state::transferable_charge);

    // The transferable charge is the x-wall magnitudes and the rib magnitudes,
    // each summed on its own in the order the cells are set, then added.
    double sum_x = 0.0, sum_z = 0.0;
    for (int i = 1; i <= 66; ++i)
        for (int j = 1; j <= NY; ++j)
            for (int k = 1; k <= NZ; ++k)
                if ((material(i, j, k) == 1 && material(i + 1, j, k) == 0) ||
                    (material(i, j, k) == 0 && material(i + 1, j, k) == 1))
                    sum_x = sum_x + std::fabs(wall_charge_x[padded(i + 1, j, k)]);
    for (int k = 1; k <= 12; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (material(i, j, k) == 0 && material(i, j, k + 1) == 1)
                    sum_z = sum_z + std::fabs(wall_charge_z[padded(i, j, k + 1)]);
    EXPECT_EQ(sustain_state::transferable_charge, (sum_x + sum_z) * dx * dy * dz);
}

}  // namespace

// The point of the sustain state: with its wall charges and the Smart Start
// voltages, a regular field solve (no space charge) leaves the gas free of
// field, whatever the applied voltages alone would drive across the gap.
TEST_F(SustainState, RegularSolveFromTheSustainStateLeavesTheGapFieldFree) {
    potential::reset();
    voltage_file::n_electrodes = 3;
    voltage_file::smart_start_voltage[1] = 180.0;
    voltage_file::smart_start_voltage[2] = 0.0;
    voltage_file::smart_start_voltage[3] = 0.0;
    testing::internal::CaptureStdout();
    sustain_state::prepare_sustain_state(1);
    testing::internal::GetCapturedStdout();
    potential::setup_sor_coefficients();
    field::build_charge_source();
    potential::solve_potential();
    field::compute_field();

    // Largest field over exactly the faces that bound or lie inside the gas box.
    double max_ex = 0, max_ey = 0, max_ez = 0, max_dphi = 0;
    for (int k = klo; k <= khi + 1; ++k)
        for (int j = jlo; j <= jhi + 1; ++j)
            for (int i = ilo; i <= ihi + 1; ++i) {
                if (j <= jhi && k <= khi) max_ex = std::max(max_ex, std::fabs(ex[node(i, j, k)]));
                if (i <= ihi && k <= khi) max_ey = std::max(max_ey, std::fabs(ey[node(i, j, k)]));
                if (i <= ihi && j <= jhi) max_ez = std::max(max_ez, std::fabs(ez[node(i, j, k)]));
                if (i <= ihi && j <= jhi && k <= khi)
                    max_dphi = std::max(max_dphi, std::fabs(phi[node(i, j, k)] - sustain_state::gap_potential));
            }
    const double applied_field = 180.0 / (39 * dx);  // V/cm the voltages alone would drive
    std::printf("sustain state: gap %.9f V, max |Ex| %.3g, |Ey| %.3g, |Ez| %.3g V/cm, max |phi - gap| %.3g V\n",
                sustain_state::gap_potential, max_ex, max_ey, max_ez, max_dphi);
    EXPECT_GT(sustain_state::gap_potential, 0.0);
    EXPECT_LT(sustain_state::gap_potential, 180.0);
    EXPECT_LT(max_ex, 1e-6 * applied_field);
    EXPECT_LT(max_ey, 1e-6 * applied_field);
    EXPECT_LT(max_ez, 1e-6 * applied_field);
    EXPECT_LT(max_dphi, 10 * potential::SOR_TOLERANCE);
}
