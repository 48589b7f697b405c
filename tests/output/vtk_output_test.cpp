// The 3D files are read back by the VTK library's own reader (Debian's
// python3-vtk9, through tests/output/vtk_probe.py), so a file that only this
// program could read fails here.
#include "output/vtk_output.hpp"
#include "particles/species.hpp"

#include "common/fatal_error.hpp"
#include "common/quiet_geometry.hpp"
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"
#include "driver/checkpoint.hpp"
#include "driver/main_program.hpp"
#include "driver/particle_seeding.hpp"
#include "electrons/electron_mover.hpp"
#include "ions/ion_mover.hpp"
#include "mesh/mesh_arrays.hpp"
#include "output/density_accumulation.hpp"
#include "particles/particle_storage.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace mesh;
namespace ps = PARTICLE_STORAGE;

namespace {

// What the probe printed: "key<TAB>name" -> the numbers after them.
using Probe = std::map<std::string, std::vector<double>>;

Probe probe(const std::string& file, const std::string& queries = "") {
    const std::string command = "/usr/bin/python3 " + std::string(PDPCELL_SOURCE_DIR) +
                                "/tests/output/vtk_probe.py " + file + " " + queries + " 2>&1";
    const RunResult run = run_command(command);
    const std::string& text = run.output;
    EXPECT_EQ(run.status, 0) << text;
    Probe result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> parts;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '\t');) parts.push_back(f);
        if (parts.size() < 2) continue;
        std::string key = parts[0];
        std::size_t first_number = 1;
        if (!(std::isdigit(static_cast<unsigned char>(parts[1][0])) || parts[1][0] == '-')) {
            key += "\t" + parts[1];
            first_number = 2;
        }
        std::vector<double>& v = result[key];
        for (std::size_t p = first_number; p < parts.size(); ++p) v.push_back(std::stod(parts[p]));
    }
    EXPECT_EQ(result["error"], std::vector<double>{0}) << text;
    return result;
}

std::vector<double> at(Probe& p, const std::string& query, const std::string& name) {
    const auto it = p.find(query + "\t" + name);
    EXPECT_NE(it, p.end()) << query << " " << name;
    return it == p.end() ? std::vector<double>{} : it->second;
}

// Equal to rounding: lengths in um are cm times 1e4, node positions over
// the spacing are whole or half numbers only to a few ulps.
void expect_near(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t n = 0; n < got.size(); ++n) EXPECT_NEAR(got[n], want[n], 1e-12 * (1 + std::abs(want[n]))) << n;
}

const char* const NE = "Ne+ density (cm^-3)";
const char* const XE = "Xe+ density (cm^-3)";
const char* const ELECTRONS = "electron density (cm^-3)";
const char* const ENERGY = "electron mean energy (eV)";
const char* const PHI = "potential (V)";
const char* const FIELD = "E (V/cm)";
const char* const GAS = "gas";
const char* const EPS = "relative permittivity";
const char* const SIGMA = "surface charge (C/cm^2)";
const char* const WALL = "wall (1 front, 2 rear, 3 rib)";
const char* const KIND = "kind (0 e, 1 Ne+, 2 Xe+)";
const char* const ORIGIN = "electron origin (0 seed or wall, 1 Ne, 2 Xe; -1 ion)";
const char* const VELOCITY = "velocity (cm/s)";
const char* const PARTICLE_ENERGY = "energy (eV)";
const char* const WEIGHT = "weight (particles per record)";

class VtkOutput : public ::testing::Test {
protected:
    TempFolder folder;

    void SetUp() override {
        driver::reset_all();
        build_geometry_quietly();
    }
    void TearDown() override { driver::reset_all(); }

    // A position in cm of node (i, j, k), and a store record there.
    static double node_x(int i) { return (i + 0.5) * dx; }
    static double node_y(int j) { return (j + 0.5) * dy; }
    static double node_z(int k) { return (k + 0.5) * dz; }
};

// Every node array at chosen nodes, the mesh's placement and the array names,
// as the VTK reader sees them: values exact, node numbers as extent indices.
TEST_F(VtkOutput, FieldFileRoundTripsEveryNodeArrayThroughTheReader) {
    for (int n = 0; n < NODE_COUNT; ++n) phi[n] = 0.001 * n - 3.25;
    ion_density[ion_slot(1, 20, 30, 4)] = 3.0 * ELECTRON_CHARGE * 1e9;
    ion_density[ion_slot(2, 20, 30, 4)] = 5.0 * ELECTRON_CHARGE * 1e9;
    electron_density[node(40, 100, 7)] = -7.0 * ELECTRON_CHARGE * 1e9;
    electron_energy[node(40, 100, 7)] = 4.5;
    for (int n = 0; n < NODE_COUNT; ++n) {
        ex[n] = 100.0 + n;  // distinct on every face
        ey[n] = -2.0 * n;
        ez[n] = 0.5 * n;
    }
    vtk_output::write_state(42, 4.1e-9, true);

    Probe p = probe("vtk/fields_0000042.vti", "node:20,30,4 node:40,100,7 node:1,1,1 node:67,137,13 node:30,60,12");
    EXPECT_EQ(p["dims"], (std::vector<double>{67, 137, 13}));
    EXPECT_EQ(p["extent"], (std::vector<double>{1, 67, 1, 137, 1, 13}));
    EXPECT_EQ(p["spacing"], (std::vector<double>{2, 5, 10}));  // um
    EXPECT_EQ(p["origin"], (std::vector<double>{1, 2.5, 5}));   // node 0 would lie at h/2
    EXPECT_EQ(p["fieldarray\tstep"], (std::vector<double>{1, 42}));  // components, value
    EXPECT_NEAR(p["fieldarray\tTimeValue"].at(1), 4.1, 1e-12);  // ns
    // Node (20, 30, 4) lies at ((20.5)·2, (30.5)·5, (4.5)·10) um.
    expect_near(at(p, "node:20,30,4", "position"), {41, 152.5, 45});
    EXPECT_DOUBLE_EQ(at(p, "node:20,30,4", NE).at(0), 3e9);
    EXPECT_DOUBLE_EQ(at(p, "node:20,30,4", XE).at(0), 5e9);
    EXPECT_EQ(at(p, "node:20,30,4", ELECTRONS).at(0), 0.0);
    EXPECT_DOUBLE_EQ(at(p, "node:40,100,7", ELECTRONS).at(0), 7e9);  // a number density, positive
    EXPECT_EQ(at(p, "node:40,100,7", ENERGY).at(0), 4.5);
    EXPECT_EQ(at(p, "node:20,30,4", PHI).at(0), phi[node(20, 30, 4)]);
    EXPECT_EQ(at(p, "node:67,137,13", PHI).at(0), phi[node(67, 137, 13)]);
    EXPECT_EQ(at(p, "node:1,1,1", PHI).at(0), -3.25);
    // In the gas the x component at a node is the mean of the two faces
    // around it; the other two sit on their own node planes there.
    // (Node positions divided by the spacing are half-integers to rounding.)
    expect_near(at(p, "node:20,30,4", FIELD), {0.5 * (ex[node(20, 30, 4)] + ex[node(21, 30, 4)]),
                                               0.5 * (ey[node(20, 30, 4)] + ey[node(20, 31, 4)]),
                                               0.5 * (ez[node(20, 30, 4)] + ez[node(20, 30, 5)])});
    EXPECT_EQ(at(p, "node:20,30,4", GAS).at(0), 1);
    EXPECT_EQ(at(p, "node:20,30,4", EPS).at(0), 1.0);
    // The rib (k >= 10) is dielectric of permittivity 11, without a field.
    EXPECT_EQ(at(p, "node:30,60,12", GAS).at(0), 0);
    EXPECT_EQ(at(p, "node:30,60,12", EPS).at(0), 11.0);
    EXPECT_EQ(at(p, "node:30,60,12", FIELD), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(at(p, "node:1,1,1", GAS).at(0), 0);
}

// The node field is what an ion or an electron sitting on the node feels; next
// to a dielectric that includes the wall-corrected face on the gas side.
TEST_F(VtkOutput, NodeFieldBesideTheWallsIsWhatAParticleThereFeels) {
    for (int n = 0; n < NODE_COUNT; ++n) {
        ex[n] = 1000.0 + 3.0 * n;
        ey[n] = 50.0 - n;
        ez[n] = 7.0 * n - 20.0;
    }
    const int nodes[][3] = {{ilo, 40, 5}, {ihi, 80, klo}, {30, jlo, khi}, {ilo, jhi, khi}, {25, 70, 6}};
    for (const auto& c : nodes) {
        double Ex, Ey, Ez, ion[3], electron[3];
        vtk_output::node_field(c[0], c[1], c[2], Ex, Ey, Ez);
        ion_mover::interpolate_ion_field(node_x(c[0]), node_y(c[1]), node_z(c[2]), ion[0], ion[1], ion[2]);
        electron_mover::interpolate_electron_field(node_x(c[0]), node_y(c[1]), node_z(c[2]), electron[0],
                                                   electron[1], electron[2]);
        EXPECT_EQ(Ex, ion[0]) << c[0] << " " << c[1] << " " << c[2];
        EXPECT_EQ(Ey, ion[1]);
        EXPECT_EQ(Ez, ion[2]);
        EXPECT_EQ(Ex, electron[0]);
        EXPECT_EQ(Ez, electron[2]);
    }
    // By hand: at the first gas node above the front dielectric, Ex is the mean
    // of the surface face i = ilo and the next face; beside the rib Ez is the
    // mean of the last gas face and the rib surface face.
    double Ex, Ey, Ez;
    vtk_output::node_field(ilo, 40, 5, Ex, Ey, Ez);
    expect_near({Ex}, {0.5 * ex[node(ilo, 40, 5)] + 0.5 * ex[node(ilo + 1, 40, 5)]});
    vtk_output::node_field(30, 50, khi, Ex, Ey, Ez);
    expect_near({Ez}, {0.5 * ez[node(30, 50, khi)] + 0.5 * ez[node(30, 50, khi + 1)]});
    // The first dielectric nodes beyond the gas carry no field.
    vtk_output::node_field(ilo - 1, 40, 5, Ex, Ey, Ez);
    EXPECT_EQ(Ex, 0.0);
    vtk_output::node_field(30, 50, khi + 1, Ex, Ey, Ez);
    EXPECT_EQ(Ez, 0.0);
}

// Each wall cell is a quad on its wall plane, carrying its charge per area:
// charge per cell volume times the spacing across the wall.
TEST_F(VtkOutput, WallChargeLiesOnQuadsOfTheFrontRearAndRibWalls) {
    wall_charge_x[padded(ilo, 10, 3)] = 2e-3;      // front cell (j 10, k 3)
    wall_charge_x[padded(ihi + 1, 100, 8)] = -4e-3;  // rear cell
    wall_charge_z[padded(20, 50, khi + 1)] = 6e-3;   // rib cell (i 20, j 50)
    vtk_output::write_state(1, 0.0, true);

    // Quad centres in um: front at x = 30, the cell's y and z centred on node
    // (10, 3); rear at x = 108; rib at z = 100.
    Probe p = probe("vtk/walls_0000001.vtp", "near:30,52.5,35 near:108,502.5,85 near:41,252.5,100 near:30,52.5,45");
    EXPECT_EQ(p["cells"], std::vector<double>{135 * 8 * 2 + 39 * 135});
    EXPECT_EQ(p["points"], std::vector<double>{4 * (135 * 8 * 2 + 39 * 135)});
    expect_near(at(p, "near:30,52.5,35", "bounds"), {30, 30, 50, 55, 30, 40});
    EXPECT_DOUBLE_EQ(at(p, "near:30,52.5,35", SIGMA).at(0), 2e-3 * dx);
    EXPECT_EQ(at(p, "near:30,52.5,35", WALL).at(0), 1);
    EXPECT_DOUBLE_EQ(at(p, "near:108,502.5,85", SIGMA).at(0), -4e-3 * dx);
    EXPECT_EQ(at(p, "near:108,502.5,85", WALL).at(0), 2);
    expect_near(at(p, "near:41,252.5,100", "bounds"), {40, 42, 250, 255, 100, 100});
    EXPECT_DOUBLE_EQ(at(p, "near:41,252.5,100", SIGMA).at(0), 6e-3 * dz);
    EXPECT_EQ(at(p, "near:41,252.5,100", WALL).at(0), 3);
    EXPECT_EQ(at(p, "near:30,52.5,45", SIGMA).at(0), 0.0);  // the neighbour cell
}

// Live records only, ions first, with their kind, origin, velocity, energy and
// weight; dead slots in either store are skipped.
TEST_F(VtkOutput, ParticleFileHoldsTheLiveRecordsAndSkipsDeadSlots) {
    const double e = ELECTRON_CHARGE;
    ps::add_particle(ps::ions, e, 0.0, 0.004, 0.01, 0.005, 1e4, -2e4, 3e4, 1);
    ps::add_particle(ps::ions, e, 0.0, 0.005, 0.02, 0.006, 0, 0, 0, 2);
    ps::add_particle(ps::ions, 2 * e, 0.0, 0.006, 0.03, 0.007, 0, 5e4, 0, 2);
    ps::add_particle(ps::electrons, -e, 0.0, 0.007, 0.04, 0.008, 1e8, 0, 0, 0);
    ps::add_particle(ps::electrons, -e, 0.0, 0.008, 0.05, 0.003, 0, 2e7, 1e7, 2);
    ps::rewind(ps::ions);
    ps::advance(ps::ions);
    ps::delete_current(ps::ions);  // slot 2
    ps::rewind(ps::electrons);
    ps::delete_current(ps::electrons);  // slot 1
    vtk_output::write_state(7, 6e-10, true);

    Probe p = probe("vtk/particles_0000007.vtp", "points");
    ASSERT_EQ(p["points"], std::vector<double>{3});
    EXPECT_EQ(p["cells"], std::vector<double>{1});  // one poly-vertex holds them
    expect_near(at(p, "point0", "position"), {40, 100, 50});
    EXPECT_EQ(at(p, "point0", KIND).at(0), 1);
    EXPECT_EQ(at(p, "point0", ORIGIN).at(0), -1);
    EXPECT_EQ(at(p, "point0", VELOCITY), (std::vector<double>{1e4, -2e4, 3e4}));
    EXPECT_DOUBLE_EQ(at(p, "point0", PARTICLE_ENERGY).at(0), 0.5 * 14e8 / species::QM_NE_ION);
    EXPECT_EQ(at(p, "point0", WEIGHT).at(0), 1.0);
    EXPECT_EQ(at(p, "point1", KIND).at(0), 2);  // the Xe+ of slot 3 (slot 2 is dead)
    EXPECT_DOUBLE_EQ(at(p, "point1", PARTICLE_ENERGY).at(0), 0.5 * 25e8 / species::QM_XE_ION);
    EXPECT_EQ(at(p, "point1", WEIGHT).at(0), 2.0);  // a merged record of two ions
    EXPECT_EQ(at(p, "point2", KIND).at(0), 0);
    EXPECT_EQ(at(p, "point2", ORIGIN).at(0), 2);
    expect_near(at(p, "point2", "position"), {80, 500, 30});
    EXPECT_DOUBLE_EQ(at(p, "point2", PARTICLE_ENERGY).at(0), 5e14 * densities::ENERGY_PER_SPEED2);
    // A diagnostic: the stores and their cursors are as they were.
    EXPECT_EQ(ps::ions.count, 3);
    EXPECT_EQ(ps::ions.cursor, 2);
    EXPECT_EQ(ps::electrons.cursor, 1);
}

TEST_F(VtkOutput, EmptyStoresGiveAReadableFileWithoutPoints) {
    vtk_output::write_state(1, 0.0, false);
    Probe p = probe("vtk/particles_0000001.vtp");
    EXPECT_EQ(p["points"], std::vector<double>{0});
    EXPECT_EQ(p["cells"], std::vector<double>{0});
    EXPECT_EQ(p.count("pointarray\t" + std::string(KIND)), 1u);
}

// At a step that did not accumulate, the file holds the densities of the
// particles now in the stores, and the run's arrays are given back unchanged.
TEST_F(VtkOutput, StaleDensitiesAreAccumulatedForTheWriteAndPutBack) {
    ps::add_particle(ps::ions, ELECTRON_CHARGE, 0.0, node_x(20), node_y(30), node_z(4), 0, 0, 0, 2);
    ps::add_particle(ps::electrons, -ELECTRON_CHARGE, 0.0, node_x(21), node_y(31), node_z(5), 1e8, 0, 0, 1);
    ion_density[ion_slot(1, 40, 40, 6)] = 1.25e-9;  // an earlier step's density
    electron_density[node(40, 40, 6)] = -2.5e-9;
    electron_energy[node(40, 40, 6)] = 3.0;
    std::vector<double> ions_before(ion_density, ion_density + 2 * NODE_COUNT);
    std::vector<double> energy_before(electron_energy, electron_energy + NODE_COUNT);

    vtk_output::write_state(5, 4e-10, false);
    EXPECT_EQ(std::memcmp(ions_before.data(), ion_density, sizeof ion_density), 0);
    EXPECT_EQ(std::memcmp(energy_before.data(), electron_energy, sizeof electron_energy), 0);
    EXPECT_EQ(electron_density[node(40, 40, 6)], -2.5e-9);

    Probe p = probe("vtk/fields_0000005.vti", "node:20,30,4 node:21,31,5 node:40,40,6");
    expect_near(at(p, "node:20,30,4", XE), {inv_cell_volume});  // one ion on the node
    EXPECT_EQ(at(p, "node:40,40,6", NE).at(0), 0.0);
    expect_near(at(p, "node:21,31,5", ELECTRONS), {inv_cell_volume});
    expect_near(at(p, "node:21,31,5", ENERGY), {1e16 * densities::ENERGY_PER_SPEED2});

    // With current densities the arrays are written as they stand.
    vtk_output::write_state(6, 5e-10, true);
    p = probe("vtk/fields_0000006.vti", "node:20,30,4 node:40,40,6");
    EXPECT_EQ(at(p, "node:20,30,4", XE).at(0), 0.0);
    EXPECT_DOUBLE_EQ(at(p, "node:40,40,6", NE).at(0), 1.25e-9 / ELECTRON_CHARGE);
}

std::string collection_entries(const std::string& text) {
    std::string entries;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.find("<DataSet") != std::string::npos) entries += line + "\n";
    return entries;
}

// Written at the first call and then whenever step - 1 is a multiple of
// every; each collection lists the writes in order with their times in ns.
TEST_F(VtkOutput, WritesAtTheFirstCallAndEveryNStepsAndListsThemByTime) {
    for (int step = 5; step <= 12; ++step) vtk_output::write_state_if_due(step, (step - 1) * 1e-10, 3, true);
    EXPECT_EQ(collection_entries(TempFolder::read("vtk/particles.pvd")),
              "    <DataSet timestep=\"0.4\" group=\"\" part=\"0\" file=\"particles_0000005.vtp\"/>\n"
              "    <DataSet timestep=\"0.6\" group=\"\" part=\"0\" file=\"particles_0000007.vtp\"/>\n"
              "    <DataSet timestep=\"0.9\" group=\"\" part=\"0\" file=\"particles_0000010.vtp\"/>\n");
    EXPECT_NE(TempFolder::read("vtk/fields.pvd").find("file=\"fields_0000010.vti\""), std::string::npos);
    EXPECT_NE(TempFolder::read("vtk/walls.pvd").find("file=\"walls_0000007.vtp\""), std::string::npos);
    for (const char* absent : {"vtk/fields_0000006.vti", "vtk/walls_0000008.vtp", "vtk/particles_0000012.vtp"})
        EXPECT_FALSE(std::filesystem::exists(absent)) << absent;
    for (const auto& entry : std::filesystem::directory_iterator("vtk"))
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

// A write that fails halfway (here the file-size limit, as a full disk would)
// stops the run with a message and leaves the earlier collections intact.
TEST_F(VtkOutput, WriteFailingHalfwayLeavesTheOldCollectionsValid) {
    vtk_output::write_state(1, 0.0, true);
    const std::string fields_before = TempFolder::read("vtk/fields.pvd");
    const std::string particles_before = TempFolder::read("vtk/particles.pvd");

    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;  // the field file is about 8.7 MB
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &small);
    testing::internal::CaptureStdout();
    EXPECT_THROW(vtk_output::write_state(101, 1e-8, true), pdp::FatalError);
    const std::string message = testing::internal::GetCapturedStdout();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_NE(message.find("ERROR: writing vtk/fields_0000101.vti failed"), std::string::npos) << message;
    EXPECT_EQ(TempFolder::read("vtk/fields.pvd"), fields_before);
    EXPECT_EQ(TempFolder::read("vtk/particles.pvd"), particles_before);
    EXPECT_FALSE(std::filesystem::exists("vtk/fields_0000101.vti"));
    EXPECT_FALSE(std::filesystem::exists("vtk/fields_0000101.vti.tmp"));
    Probe p = probe("vtk/fields_0000001.vti");  // the listed file is whole
    EXPECT_EQ(p["points"], std::vector<double>{NODE_COUNT});
}

TEST_F(VtkOutput, UnwritableFolderStopsTheRunWithAMessage) {
    TempFolder::write("vtk", "a file where the folder should be");
    testing::internal::CaptureStdout();
    EXPECT_THROW(vtk_output::write_state(1, 0.0, true), pdp::FatalError);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR: Can't create folder vtk"), std::string::npos);
}

}  // namespace

namespace {

int run_pdpcell_in(const std::string& folder, const std::string& arguments, std::string& console) {
    const RunResult r = run_command("cd " + folder + " && " + PDPCELL_BINARY + " " + arguments + " </dev/null 2>/dev/null");
    console += r.output;
    return r.status;
}

// The console and the run log without the processor times, which differ
// from run to run.
std::string without_processor_times(const std::string& text, bool log) {
    std::string kept;
    std::istringstream in(text);
    bool skip_next = false;
    for (std::string line; std::getline(in, line);) {
        if (log) line = line.substr(0, 70);
        if (skip_next || line.find("Time elapsed=") != std::string::npos) line = "(processor time)";
        skip_next = line == " t11,t22,t33";
        kept += line + "\n";
    }
    return kept;
}

// Runs the case in two folders, without and with the option, and compares
// every file the program writes besides vtk/, and the console.
void expect_same_run_with_and_without_vtk(const std::string& arguments, int vtk_every) {
    std::string plain_console, vtk_console;
    for (const char* name : {"plain", "vtk"}) {
        std::filesystem::create_directory(name);
        for (const auto& entry : std::filesystem::directory_iterator("."))
            if (entry.is_regular_file()) std::filesystem::copy_file(entry.path(), std::filesystem::path(name) / entry.path().filename());
    }
    ASSERT_EQ(run_pdpcell_in("plain", arguments, plain_console), 0) << plain_console;
    ASSERT_EQ(run_pdpcell_in("vtk", arguments + " --vtk-every " + std::to_string(vtk_every), vtk_console), 0)
        << vtk_console;
    EXPECT_EQ(without_processor_times(vtk_console, false), without_processor_times(plain_console, false));
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator("plain")) {
        const std::string name = entry.path().filename().string();
        const std::string plain = TempFolder::read("plain/" + name), with_vtk = TempFolder::read("vtk/" + name);
        if (name == "general.txt") EXPECT_EQ(without_processor_times(with_vtk, true), without_processor_times(plain, true));
        else EXPECT_TRUE(with_vtk == plain) << name << " differs";
        ++compared;
    }
    EXPECT_GE(compared, 10);  // inputs, log, echo, sustain state, five slice files
    EXPECT_TRUE(std::filesystem::exists("vtk/vtk/fields.pvd"));
}

}  // namespace

// Writes at steps that accumulate no densities of their own (250, 750) must
// not change what the diagnostics print after them, nor anything else.
TEST(VtkBinary, RunWithTheOptionWritesTheSameFilesAndConsoleAsWithout) {
    TempFolder folder;
    const std::filesystem::path example = std::filesystem::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain";
    for (const char* name : {"input_file.txt", "Vdata.txt"}) std::filesystem::copy_file(example / name, name);
    expect_same_run_with_and_without_vtk("--max-steps 1001", 250);
}

// A write at a step that accumulated nothing leaves the whole saved state
// (densities, fields, wall charge, stores, generator) as it was: the
// checkpoint taken after it has the same bytes as one taken before.
TEST_F(VtkOutput, CheckpointAfterAWriteHasTheSameBytes) {
    testing::internal::CaptureStdout();
    seeding::seed_initial_particles();
    testing::internal::GetCapturedStdout();
    ion_density[ion_slot(2, 30, 30, 3)] = 1e-9;  // an earlier step's densities
    electron_density[node(30, 30, 3)] = -1e-9;
    double t = 5e-8, dt = driver::TIME_STEP;
    int nstep = 501;
    checkpoint::checkpoint_restart(0, t, nstep, dt);
    const std::string before = TempFolder::read("restart");
    vtk_output::write_state(nstep, t, false);
    checkpoint::checkpoint_restart(0, t, nstep, dt);
    EXPECT_TRUE(TempFolder::read("restart") == before);
    EXPECT_GT(before.size(), 1000000u);
}
