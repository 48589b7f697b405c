#include "input/cell_file.hpp"

#include "common/fatal_error.hpp"
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/electron_mover.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/species.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>

namespace {

// A cell file that restates every value of the built-in cell.
const char* const BUILT_IN_CELL = R"([fill]
xenon_fraction = 0.14
density_cm3 = 1.143456217105263e19

[emission]
energy_ev = 0.0
front = { ne = 0.64, xe = 0.001 }
rear = { ne = 0.32, xe = 0.0 }
rib = { ne = 0.32, xe = 0.0 }

[dielectrics]
front_thickness_cm = 0.0026
front_permittivity = 11.0
rear_thickness_cm = 0.0026
rear_permittivity = 8.0
phosphor_thickness_cm = 0.001
phosphor_permittivity = 8.0
rib_width_cm = 0.004
rib_permittivity = 11.0

[electrodes]
sustain_width_cm = 0.022
sustain_gap_cm = 0.0065
address_width_cm = 0.008
)";

// The console of a refused file.
std::string refusal(const std::string& text) {
    testing::internal::CaptureStdout();
    EXPECT_THROW(cell_file::parse(text, "cell.toml"), pdp::FatalError) << text;
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(CellFile, RestatingTheBuiltInCellGivesTheBuiltInLayoutAndFill) {
    const cell_file::Cell cell = cell_file::parse(BUILT_IN_CELL, "cell.toml");
    const cell_file::Cell built_in;
    const cell_file::Layout &l = cell.layout, &b = built_in.layout;
    EXPECT_EQ(l.front_last, b.front_last);
    EXPECT_EQ(l.rear_first, b.rear_first);
    EXPECT_EQ(l.rib_half, b.rib_half);
    EXPECT_EQ(l.phosphor, b.phosphor);
    EXPECT_EQ(l.sustain_first, b.sustain_first);
    EXPECT_EQ(l.sustain_width, b.sustain_width);
    EXPECT_EQ(l.sustain_gap, b.sustain_gap);
    EXPECT_EQ(l.address_nodes, b.address_nodes);
    // Every value of the fill the same bits as the typed one.
    const species::Fill f = cell_file::fill_of(cell), &d = species::BUILT_IN_FILL;
    EXPECT_EQ(f.density, d.density);
    EXPECT_EQ(f.inv_density, d.inv_density);
    EXPECT_EQ(f.ne_scale, 1.0);
    EXPECT_EQ(f.xe_scale, 1.0);
    EXPECT_EQ(f.tau_ne_ion, d.tau_ne_ion);
    EXPECT_EQ(f.tau_xe_ion, d.tau_xe_ion);
    EXPECT_EQ(f.ne_ion_mobility, d.ne_ion_mobility);
    EXPECT_EQ(f.xe_ion_mobility, d.xe_ion_mobility);
    for (int w = 0; w < 3; ++w)
        for (int s = 0; s < 2; ++s) EXPECT_EQ(f.yield[w][s], d.yield[w][s]);
}

TEST(CellFile, SnapsToTheMeshAndTakesPressureWithTemperature) {
    const cell_file::Cell cell = cell_file::parse(R"(
[fill]
xenon_fraction = 0.3
pressure_torr = 760
temperature_k = 273.15
[electrodes]
sustain_width_cm = 0.0201   # 40.2 steps: 40
sustain_gap_cm = 0.0102     # 20.4 steps: 20
[dielectrics]
front_thickness_cm = 0.00312  # 15.6 steps: 16
)", "cell.toml");
    EXPECT_NEAR(cell.density, 2.6868e19, 0.0002e19);  // Loschmidt's number
    EXPECT_EQ(cell.layout.sustain_width, 40);
    EXPECT_EQ(cell.layout.sustain_gap, 20);
    EXPECT_EQ(cell.layout.sustain_first, 69 - 49);  // 100 nodes centred on node 69
    EXPECT_EQ(cell.layout.front_last, 17);
    const std::string echo = cell_file::describe(cell);
    EXPECT_NE(echo.find("nodes 20 to 59 and 80 to 119"), std::string::npos) << echo;
    EXPECT_NE(echo.find("front dielectric 0.0032 cm (16 steps)"), std::string::npos) << echo;

    // Each gas's collision frequencies follow its partial density, the ions'
    // mean free times Blanc's law: at twice the density and the same
    // composition every frequency doubles and every time halves.
    const species::Fill twice = species::fill_with(2 * species::BUILT_IN_DENSITY, 0.14);
    EXPECT_DOUBLE_EQ(twice.ne_scale, 2.0);
    EXPECT_DOUBLE_EQ(twice.xe_scale, 2.0);
    EXPECT_DOUBLE_EQ(twice.tau_ne_ion, species::BUILT_IN_TAU_NE_ION / 2);
    EXPECT_DOUBLE_EQ(twice.tau_xe_ion, species::BUILT_IN_TAU_XE_ION / 2);
    const species::Fill rich = cell_file::fill_of(cell);
    EXPECT_NEAR(rich.xe_scale, 2.6868e19 * 0.3 / (species::BUILT_IN_DENSITY * 0.14), 1e-3);
    EXPECT_NEAR(rich.ne_scale, 2.6868e19 * 0.7 / (species::BUILT_IN_DENSITY * 0.86), 1e-3);
    // More xenon drags the ions more than the density alone does.
    EXPECT_LT(rich.tau_xe_ion * 2.6868e19, species::BUILT_IN_TAU_XE_ION * species::BUILT_IN_DENSITY);
}

TEST(CellFile, RefusesWithTheKeyTheLineAndWhatToChange) {
    const struct {
        const char* text;
        const char* expected;
    } cases[] = {
        {"[fill]\nxenon_fractoin = 0.1\n", "cell.toml line 2: fill.xenon_fractoin is not a key"},
        {"[gas]\n", "cell.toml line 1: gas is not a key"},
        {"[fill]\n\nxenon_fraction = 1.2\n", "line 3: fill.xenon_fraction = 1.2 is outside 0 to 1"},
        {"[fill]\npressure_torr = -400\ntemperature_k = 300\n", "line 2: fill.pressure_torr = -400 is not positive"},
        {"[fill]\npressure_torr = 400\n", "line 2: fill.pressure_torr is given alone"},
        {"[fill]\ndensity_cm3 = 0\n", "line 2: fill.density_cm3 = 0 is not positive"},
        {"[fill]\ndensity_cm3 = 1e19\npressure_torr = 400\ntemperature_k = 300\n", "line 3: fill.density_cm3 and the"},
        {"[fill]\nxenon_fraction = \"a lot\"\n", "line 2: fill.xenon_fraction is not a number"},
        {"[emission.front]\nne = 1.5\n", "line 2: emission.front.ne = 1.5 is outside 0 to 1"},
        {"[electrodes]\nsustain_gap_cm = 0.0002\n", "line 2: electrodes.sustain_gap_cm = 0.0002 snaps to 0 mesh steps"},
        {"[electrodes]\nsustain_gap_cm = -0.001\n", "would touch or overlap"},
        {"[electrodes]\n\nsustain_width_cm = 0.04\n", "line 3: electrodes.sustain_width_cm makes the two electrodes"},
        {"[electrodes]\naddress_width_cm = 0.03\n", "line 2: electrodes.address_width_cm = 0.03 is wider than the cell"},
        {"[dielectrics]\nfront_thickness_cm = 0.007\nrear_thickness_cm = 0.0054\n", "line 2: dielectrics.front_thickness_cm leaves 3 gas nodes"},
        {"[dielectrics]\nfront_permittivity = 0.5\n", "line 2: dielectrics.front_permittivity = 0.5 is outside 1 to"},
        {"[fill\n", "cell.toml line 1: "},
    };
    for (const auto& c : cases) {
        const std::string console = refusal(c.text);
        EXPECT_EQ(console.rfind("ERROR: ", 0), 0u) << console;
        EXPECT_NE(console.find(c.expected), std::string::npos) << c.text << "\ngave: " << console;
        EXPECT_NE(console.find("\n       "), std::string::npos) << "no advice line: " << console;
    }
}

// The bound of the null collisions lies above the sum of every process for
// fills far from the built-in one, and the exact mode's bound above that.
TEST(CellFile, CollisionEnvelopeOfAnotherFillBoundsEveryProcess) {
    using namespace collision_frequencies;
    for (const double xenon : {0.0, 0.05, 0.3, 1.0}) {
        species::set_fill(species::fill_with(1.5 * species::BUILT_IN_DENSITY, xenon));
        follow_fill();
        const double exact_bound = electron_mover::NUMAX_START * bound_scale();
        double largest = 0.0;
        for (double energy = 0.0; energy < 2000; energy = energy * 1.002 + 1e-4) {
            const double v = SPEED_PER_SQRT_EV * std::sqrt(energy);
            double sum = numt_Ne(v) + numt_Xe(v) + nu_ion_Ne(v) + nu_ion_Xe(v);
            for (int k = 1; k <= 6; ++k) sum += nu_exc_Ne(k, v) + nu_exc_Xe(k, v);
            ASSERT_LE(sum, nu_total(v)) << "Xe fraction " << xenon << " at " << energy << " eV";
            largest = std::max(largest, sum);
        }
        EXPECT_GE(exact_bound, nu_total_max_below(1e9)) << xenon;
        // Tight: the envelope's largest value within a few per cent of the largest sum.
        EXPECT_LT(nu_total_max_below(1e9), 1.1 * largest) << xenon;
        // Each gas's process follows its partial density.
        EXPECT_DOUBLE_EQ(numt_Xe(SPEED_PER_SQRT_EV), species::fill().xe_scale * 16.33e9);
        EXPECT_DOUBLE_EQ(numt_Ne(SPEED_PER_SQRT_EV * std::sqrt(3.0)), species::fill().ne_scale * 192.5e9);
    }
    species::reset();
    follow_fill();
}

// One short run of the example case without a cell file, one with a file
// that restates the built-in cell, and restarts of the second.
TEST(Binary, CellFileThatRestatesTheBuiltInCellChangesNoOutputAndARestartKeepsIt) {
    namespace fs = std::filesystem;
    TempFolder folder;
    fs::create_directory("plain");
    fs::create_directory("cell");
    for (const char* dir : {"plain", "cell"}) copy_example_case(dir);
    TempFolder::write("cell/cell.toml", BUILT_IN_CELL);
    const std::string run = "--max-steps 500 --checkpoint-every 400 </dev/null";
    const RunResult plain = run_command("cd plain && " + std::string(PDPCELL_BINARY) + " " + run + " 2>&1");
    const RunResult cell = run_command("cd cell && " + std::string(PDPCELL_BINARY) + " " + run + " 2>&1");
    ASSERT_EQ(plain.status, 0) << plain.output;
    ASSERT_EQ(cell.status, 0) << cell.output;
    EXPECT_NE(cell.output.find("sustain electrodes 0.022 cm wide (nodes 19 to 62 and 76 to 119), gap 0.0065 cm"),
              std::string::npos) << cell.output;
    EXPECT_NE(cell.output.find("  cell             cell.toml: Ne + 14 % Xe at 1.14346e+19 cm^-3"), std::string::npos);
    EXPECT_EQ(plain.output.find("cell.toml"), std::string::npos);

    int compared = 0;
    for (const auto& entry : fs::directory_iterator("plain")) {
        const std::string name = entry.path().filename().string();
        const std::string a = TempFolder::read("plain/" + name), b = TempFolder::read("cell/" + name);
        if (name == "control_file.txt") {
            // The built-in cell's lines, then the cell file.
            EXPECT_EQ(b.substr(0, a.size()), a);
            EXPECT_NE(b.find(BUILT_IN_CELL, a.size()), std::string::npos) << b.substr(a.size());
        } else if (name == "restart") {
            // The same records, then the cell file's before the integrity line.
            const std::string body = a.substr(0, a.rfind(" CRC-32 of the bytes above"));
            EXPECT_TRUE(b.compare(0, body.size(), body) == 0) << "the checkpoint differs before the cell file's record";
            EXPECT_NE(b.find(BUILT_IN_CELL), std::string::npos);
        } else if (name == "general.txt") {
            EXPECT_TRUE(log_without_cpu_time(a) == log_without_cpu_time(b)) << name << " differs";
        } else {
            EXPECT_TRUE(a == b) << name << " differs";
        }
        ++compared;
    }
    EXPECT_GE(compared, 6);

    // A restart takes the same cell file, and refuses another or none.
    TempFolder::write("cell/cell.toml", std::string(BUILT_IN_CELL) + "# the same cell, one comment more\n");
    const RunResult changed = run_command("cd cell && " + std::string(PDPCELL_BINARY) + " --restart --max-steps 500 </dev/null 2>&1");
    EXPECT_NE(changed.status, 0);
    EXPECT_NE(changed.output.find("ERROR: cell.toml differs from the cell file that file restart was written with"),
              std::string::npos) << changed.output;
    fs::remove("cell/cell.toml");
    const RunResult none = run_command("cd cell && " + std::string(PDPCELL_BINARY) + " --restart --max-steps 500 </dev/null 2>&1");
    EXPECT_NE(none.status, 0);
    EXPECT_NE(none.output.find("written by a run with a cell file (cell.toml), but this case has none"), std::string::npos)
        << none.output;
    TempFolder::write("cell/cell.toml", BUILT_IN_CELL);
    const RunResult same = run_command("cd cell && " + std::string(PDPCELL_BINARY) + " --restart --max-steps 420 </dev/null 2>&1");
    EXPECT_EQ(same.status, 0) << same.output;
    EXPECT_NE(same.output.find("Resumed from file restart at step 401"), std::string::npos) << same.output;
    TempFolder::write("plain/cell.toml", BUILT_IN_CELL);
    const RunResult added = run_command("cd plain && " + std::string(PDPCELL_BINARY) + " --restart --max-steps 420 </dev/null 2>&1");
    EXPECT_NE(added.status, 0);
    EXPECT_NE(added.output.find("written by a run without a cell file, but this case has cell.toml"), std::string::npos)
        << added.output;
}

// A fill with more xenon is used: the exact mode's collision bound, printed
// per unit density at the start, follows the xenon's partial density, and
// the electrodes follow the file.
TEST(Binary, CellFileFillAndElectrodesReachTheRun) {
    TempFolder folder;
    copy_example_case();
    TempFolder::write("cell.toml", "[fill]\nxenon_fraction = 0.28\n[electrodes]\nsustain_gap_cm = 0.01\n");
    const RunResult r = run_pdpcell("--max-steps 30 </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("1.1999999999999999E-06"), std::string::npos) << r.output;  // twice the built-in fill's 5.9999999999999997E-07
    EXPECT_NE(r.output.find(" 16 59 80 123"), std::string::npos) << r.output;
    const std::string control = TempFolder::read("control_file.txt");
    EXPECT_NE(control.find("distance between edges of s_electrodes=    1.0000000000000000E-02"), std::string::npos)
        << control;
}
