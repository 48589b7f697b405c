#include "output/slices.hpp"

#include "common/fortran_format.hpp"
#include "common/quiet_geometry.hpp"
#include "common/temp_folder.hpp"
#include "driver/main_program.hpp"
#include "input/cell_geometry.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace mesh;

namespace {

const char* const FILES[] = {"OUT_Electron_Density.2Ddata", "OUT_Ion_Density.2Ddata",
                             "OUT_Ion_Density_top.2Ddata", "OUT_Electron_Density_top.2Ddata",
                             "OUT_Potential.2Ddata"};
const int ROWS[] = {65, 65, 22, 22, 67};  // data rows per block in each file

class Slices : public ::testing::Test {
protected:
    TempFolder folder;

    void SetUp() override {
        driver::reset_all();
        build_geometry_quietly();
    }

    void TearDown() override { driver::reset_all(); }  // closes the slice files before the folder goes

    // Returns what the call printed on the console.
    static std::string write(double t) {
        testing::internal::CaptureStdout();
        slices::write_slices(1, t, 1000);
        return testing::internal::GetCapturedStdout();
    }
};

// Reads a file while the writer still holds it open: only flushed text shows.
std::vector<std::string> lines_of(const std::string& name) {
    std::ifstream in(name);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Value in column j (mesh node number) of a data row.
std::string column(const std::string& row, int j) { return row.substr(1 + 14 * (j - 2), 12); }

std::string name_field(const std::string& name) { return " " + name + std::string(100 - name.size(), ' '); }

}  // namespace

TEST_F(Slices, HeaderOnceThenOneTimeBlockPerCall) {
    EXPECT_EQ(write(0.0), "\n");
    for (int f = 0; f < 5; ++f) {
        const std::vector<std::string> lines = lines_of(FILES[f]);
        ASSERT_EQ(lines.size(), 6u + 3u + ROWS[f]) << FILES[f];
        const bool top = f == 2 || f == 3;
        EXPECT_EQ(lines[0], "scalar = 1 or vector = 2:");
        EXPECT_EQ(lines[1], " 1");
        EXPECT_EQ(lines[2], top ? "Grid size, x,z: (cm)" : "Grid size, x,y: (cm)");
        EXPECT_EQ(lines[3], top ? " 0.06700000   0.02100000" : " 0.06700000   0.01280000");
        EXPECT_EQ(lines[4], top ? "Array dimensions:  (nx, nz)" : "Array dimensions:  (nx, ny)");
        EXPECT_EQ(lines[5], top ? " 135    22" : " 135    65");  // the potential says 65 too
        EXPECT_EQ(lines[6], "  TIME");
        EXPECT_EQ(lines[7], "    0.000000000000E+00");
        for (int r = 9; r < 9 + ROWS[f]; ++r) EXPECT_EQ(lines[r].size(), 1u + 135u * 14u) << FILES[f] << " row " << r;
    }
    EXPECT_EQ(lines_of(FILES[4])[8], name_field("Potential"));
    EXPECT_EQ(lines_of(FILES[3])[8], name_field("Electron_Density_top"));

    EXPECT_EQ(write(1e-7), "\n");
    for (int f = 0; f < 5; ++f) {
        const std::vector<std::string> lines = lines_of(FILES[f]);
        ASSERT_EQ(lines.size(), 6u + 2u * (3u + ROWS[f])) << FILES[f];
        const std::size_t second = 9 + ROWS[f];
        EXPECT_EQ(lines[second], "  TIME");
        EXPECT_EQ(lines[second + 1], "    1.000000000000E-07");
        EXPECT_EQ(lines[second + 2], lines[8]);
    }

    // A fresh run (reset) starts the files again, header included.
    FILE_MANAGER::reset();
    slices::reset();
    write(0.0);
    EXPECT_EQ(lines_of(FILES[0]).size(), 6u + 3u + 65u);
}

TEST_F(Slices, SectionsLieInTheLowestInteriorPlane) {
    // Plain multiples of the electron charge print as whole numbers.
    electron_density[node(5, 7, 2)] = -7e6 * ELECTRON_CHARGE;
    electron_density[node(5, 8, 3)] = -9e6 * ELECTRON_CHARGE;  // above the plane: not in the section
    ion_density[ion_slot(1, 66, 136, 2)] = 2e6 * ELECTRON_CHARGE;
    ion_density[ion_slot(2, 66, 136, 2)] = 3e6 * ELECTRON_CHARGE;
    for (int j = 1; j <= NY; ++j) {
        phi[node(1, j, 2)] = 180.0;
        phi[node(67, j, 2)] = -50.0;
        phi[node(30, j, 2)] = 12.5;
    }
    write(0.0);

    const std::vector<std::string> electrons = lines_of(FILES[0]);
    const std::string& row5 = electrons[9 + 5 - 2];
    EXPECT_EQ(column(row5, 7), "  7.0000E+06");
    EXPECT_EQ(column(row5, 8), "  0.0000E+00");  // no "-0.0000E+00" for an empty node
    EXPECT_EQ(row5.substr(0, 15), "   0.0000E+00  ");
    EXPECT_EQ(row5.substr(row5.size() - 14), "  0.0000E+00  ");

    const std::vector<std::string> ions = lines_of(FILES[1]);
    EXPECT_EQ(column(ions.back(), 136), "  5.0000E+06");  // i = 66, j = 136: last row, last column

    const std::vector<std::string> potential = lines_of(FILES[4]);
    EXPECT_EQ(column(potential[9], 2), "  1.8000E+02");   // front plate row i = 1
    EXPECT_EQ(column(potential[9 + 29], 70), "  1.2500E+01");
    EXPECT_EQ(column(potential.back(), 136), " -5.0000E+01");  // rear plate row i = 67
}

TEST_F(Slices, TopViewsStackTheMirroredThenTheDirectColumnSums) {
    // Column j = 40: ions 5 + 2 in the plane k = 3 and 1 in k = 12 (the rib),
    // electrons -3 in k = 2.
    ion_density[ion_slot(1, 20, 40, 3)] = 5.0 * ELECTRON_CHARGE;
    ion_density[ion_slot(2, 30, 40, 3)] = 2.0 * ELECTRON_CHARGE;
    ion_density[ion_slot(1, 60, 40, 12)] = 1.0 * ELECTRON_CHARGE;
    electron_density[node(20, 40, 2)] = -3.0 * ELECTRON_CHARGE;
    write(0.0);

    const std::vector<std::string> ions = lines_of(FILES[2]);
    std::vector<std::string> sums;
    for (int r = 9; r < 9 + 22; ++r) sums.push_back(column(ions[r], 40));
    // Rows k = 12..2 then k = 2..12.
    for (int r = 0; r < 22; ++r) {
        const int k = r < 11 ? 12 - r : r - 9;
        const char* expected = k == 3 ? "  7.0000E+00" : k == 12 ? "  1.0000E+00" : "  0.0000E+00";
        EXPECT_EQ(sums[r], expected) << "row " << r;
    }

    // The electron sums keep their sign; k = 2 is rows 11 and 12 (1-based).
    const std::vector<std::string> electrons = lines_of(FILES[3]);
    for (int r = 0; r < 22; ++r)
        EXPECT_EQ(column(electrons[9 + r], 40), r == 10 || r == 11 ? " -3.0000E+00" : "  0.0000E+00") << "row " << r;
}

// A reader of a running case (the plotting script) sees each block whole as
// soon as it is written. Written without capturing the console, whose capture
// would flush every stream and hide a block left in the writer's buffer.
TEST_F(Slices, EachBlockIsOnDiskWhileTheFilesStayOpen) {
    slices::write_slices(1, 0.0, 1000);
    slices::write_slices(1001, 1e-7, 1000);
    for (int f = 0; f < 5; ++f) {
        const std::vector<std::string> lines = lines_of(FILES[f]);
        ASSERT_EQ(lines.size(), 6u + 2u * (3u + ROWS[f])) << FILES[f];
        EXPECT_EQ(lines.back().size(), 1u + 135u * 14u) << FILES[f];
    }
}

// A restarted run cuts each file after the blocks written before its restart
// time and appends to it, without a second header; a file that is not a
// slice file of this cell is started afresh.
TEST_F(Slices, ARestartContinuesEachFileAfterTheBlocksBeforeItsTime) {
    for (double t : {0.0, 1e-7, 2e-7, 3e-7}) write(t);
    const std::vector<std::string> before = lines_of(FILES[0]);
    FILE_MANAGER::reset();  // the run ends; a new one restarts at t = 2e-7
    slices::reset();
    TempFolder::write(FILES[2], "not a slice file\n");

    slices::continue_files(2e-7 - 0.5e-10);
    for (int f = 0; f < 5; ++f) {
        const std::size_t expected = f == 2 ? 0u : 6u + 2u * (3u + ROWS[f]);  // blocks of 0 and 1e-7
        EXPECT_EQ(lines_of(FILES[f]).size(), expected) << FILES[f];
    }
    write(2e-7);
    for (int f = 0; f < 5; ++f) {
        const std::vector<std::string> lines = lines_of(FILES[f]);
        const std::size_t blocks = f == 2 ? 1u : 3u;
        ASSERT_EQ(lines.size(), 6u + blocks * (3u + ROWS[f])) << FILES[f];
        EXPECT_EQ(lines[0], "scalar = 1 or vector = 2:") << FILES[f];
        EXPECT_EQ(lines[lines.size() - 2 - ROWS[f]], "    2.000000000000E-07") << FILES[f];
    }
    // Blocks before the restart are kept as they were.
    const std::vector<std::string> after = lines_of(FILES[0]);
    EXPECT_TRUE(std::equal(after.begin(), after.end(), before.begin()));
}
