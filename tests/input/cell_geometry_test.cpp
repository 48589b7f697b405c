#include "input/cell_geometry.hpp"

#include "common/fatal_error.hpp"
#include "common/temp_folder.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"

#include <gtest/gtest.h>

using namespace mesh;

namespace {

struct Geometry : ::testing::Test {
    TempFolder folder;
    std::string console;
    void SetUp() override {
        FILE_MANAGER::reset();
        mesh::reset();
        TempFolder::write("input_file.txt", "");  // contents do not matter
        testing::internal::CaptureStdout();
        geometry::build_geometry();
        console = testing::internal::GetCapturedStdout();
    }
    void TearDown() override { FILE_MANAGER::reset(); }
};

}  // namespace

TEST_F(Geometry, GasBoxBoundsAndPlanes) {
    EXPECT_EQ(ilo, 15);
    EXPECT_EQ(ihi, 53);
    EXPECT_EQ(jlo, 2);
    EXPECT_EQ(jhi, 136);
    EXPECT_EQ(klo, 2);
    EXPECT_EQ(khi, 9);
    EXPECT_DOUBLE_EQ(xlow, 0.003);
    EXPECT_DOUBLE_EQ(xhigh, 0.0108);
    EXPECT_DOUBLE_EQ(ylow, 0.001);
    EXPECT_DOUBLE_EQ(yhigh, 0.0685);
    EXPECT_DOUBLE_EQ(zlow, 0.002);
    EXPECT_DOUBLE_EQ(zhigh, 0.01);
}

TEST_F(Geometry, PermittivityLayersAndMaterials) {
    // Along z in the gap: gas 1..9, phosphor 10, rib 11..13.
    for (int k = 1; k <= 9; ++k) EXPECT_EQ(eps_node[node(30, 50, k)], 1.0) << k;
    EXPECT_EQ(eps_node[node(30, 50, 10)], 8.0);
    for (int k = 11; k <= 13; ++k) EXPECT_EQ(eps_node[node(30, 50, k)], 11.0) << k;
    // The x rules come first: front 11 through i = 14, rear 8 from i = 54.
    EXPECT_EQ(eps_node[node(14, 50, 12)], 11.0);
    EXPECT_EQ(eps_node[node(54, 50, 12)], 8.0);
    EXPECT_EQ(eps_node[node(54, 50, 3)], 8.0);
    EXPECT_EQ(eps_node[node(15, 50, 3)], 1.0);
    // A plate node under an electrode keeps its dielectric permittivity.
    EXPECT_EQ(eps_node[node(1, 30, 3)], 11.0);

    EXPECT_EQ(material_map[padded(15, 50, 3)], 0);
    EXPECT_EQ(material_map[padded(14, 50, 3)], 1);
    EXPECT_EQ(material_map[padded(53, 50, 9)], 0);
    EXPECT_EQ(material_map[padded(53, 50, 10)], 1);
    EXPECT_EQ(material_map[padded(1, 50, 3)], -1);
    EXPECT_EQ(material_map[padded(30, 137, 3)], -1);
    EXPECT_EQ(material_map[padded(30, 50, 13)], -1);
    EXPECT_EQ(material_map[padded(0, 0, 0)], -1);
    EXPECT_EQ(material_map[padded(67, 137, 13)], -1);
}

TEST_F(Geometry, ElectrodesOnThePlates) {
    EXPECT_EQ(electrode_map[node(1, 18, 5)], 0);
    EXPECT_EQ(electrode_map[node(1, 19, 5)], 1);
    EXPECT_EQ(electrode_map[node(1, 62, 13)], 1);
    EXPECT_EQ(electrode_map[node(1, 63, 5)], 0);
    EXPECT_EQ(electrode_map[node(1, 76, 1)], 2);
    EXPECT_EQ(electrode_map[node(1, 119, 5)], 2);
    EXPECT_EQ(electrode_map[node(1, 120, 5)], 0);
    EXPECT_EQ(electrode_map[node(67, 1, 5)], 3);
    EXPECT_EQ(electrode_map[node(67, 137, 1)], 3);
    EXPECT_EQ(electrode_map[node(67, 50, 6)], 0);
    EXPECT_EQ(electrode_map[node(2, 30, 5)], 0);
    EXPECT_EQ(geometry::highest_electrode(), 3);
}

TEST_F(Geometry, FaceCouplingsAreHarmonicMeansTimesAreaOverDistance) {
    const double gx = dy * dz / dx, gy = dx * dz / dy, gz = dx * dy / dz;
    // Front surface: dielectric 11 below gas 1.
    EXPECT_DOUBLE_EQ(eps_face_x[node(15, 50, 3)], 11.0 / 6.0 * gx);
    EXPECT_DOUBLE_EQ(eps_face_x[node(30, 50, 3)], gx);
    EXPECT_DOUBLE_EQ(eps_face_x[node(54, 50, 3)], 2.0 * 8.0 / 9.0 * gx);
    EXPECT_DOUBLE_EQ(eps_face_x[node(2, 50, 3)], 11.0 * gx);
    EXPECT_EQ(eps_face_x[node(1, 50, 3)], 0.0);
    // Phosphor over gas along z, rib over phosphor.
    EXPECT_DOUBLE_EQ(eps_face_z[node(30, 50, 10)], 2.0 * 8.0 / 9.0 * gz);
    EXPECT_DOUBLE_EQ(eps_face_z[node(30, 50, 11)], 2.0 * 88.0 / 19.0 * gz);
    EXPECT_DOUBLE_EQ(eps_face_y[node(30, 50, 3)], gy);
    // No flux across the faces next to the y and z boundary layers.
    for (int j : {1, 2, 137}) EXPECT_EQ(eps_face_y[node(30, j, 3)], 0.0) << j;
    EXPECT_GT(eps_face_y[node(30, 136, 3)], 0.0);
    for (int k : {1, 2, 13}) EXPECT_EQ(eps_face_z[node(30, 50, k)], 0.0) << k;
    EXPECT_GT(eps_face_z[node(30, 50, 12)], 0.0);
}

TEST_F(Geometry, EchoOnConsoleAndInControlFile) {
    EXPECT_EQ(console, " 65 135 11\n 19 62 76 119\n");
    const std::string control = TempFolder::read("control_file.txt");
    EXPECT_NE(control.find(" vertical size of the cell=                 1.3000000000000001E-02\n"),
              std::string::npos);
    EXPECT_NE(control.find(" full number of intervals in the horizontal direction= 135\n"), std::string::npos);
    EXPECT_NE(control.find(" width of address electrode=                8.0000000000000002E-03\n"),
              std::string::npos);
    int lines = 0;
    for (char c : control) lines += c == '\n';
    EXPECT_EQ(lines, 15);
    // Both files are closed again.
    EXPECT_EQ(FILE_MANAGER::recorded_name(FILE_MANAGER::FIRST_UNIT), "");
}

TEST(GeometryInput, MissingInputFileStopsTheRun) {
    TempFolder folder;
    FILE_MANAGER::reset();
    testing::internal::CaptureStdout();
    EXPECT_THROW(geometry::build_geometry(), pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Can't open file: input_file.txt\n");
    FILE_MANAGER::reset();
}
