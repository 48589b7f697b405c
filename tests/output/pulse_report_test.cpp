// The report files through the program as users run it: the currents
// integrate to the electrode charge of the field solves, a pulse's energy
// closes, and a restarted run continues the files byte for byte. (That the
// files do not depend on the thread count in --parallel, the tests of the
// parallel runs check with every file of the run folder.)
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"
#include "driver/main_program.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/voltage_file.hpp"
#include "ions/sustain_state.hpp"
#include "mesh/electrode_response.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"
#include "output/pulse_report.hpp"
#include "particles/pass_output.hpp"
#include "particles/particle_storage.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// A report file: its comment line, its header and its rows by column name.
struct Table {
    std::string comment;
    std::vector<std::string> names;
    std::vector<std::map<std::string, std::string>> rows;
    double at(std::size_t row, const std::string& name) const { return std::stod(rows.at(row).at(name)); }
};

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line);
    for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
    if (!line.empty() && line.back() == ',') cells.push_back("");
    return cells;
}

Table read_table(const std::string& name) {
    Table t;
    std::istringstream in(TempFolder::read(name));
    std::getline(in, t.comment);
    std::string header;
    std::getline(in, header);
    t.names = split(header);
    for (std::string line; std::getline(in, line);) {
        const std::vector<std::string> cells = split(line);
        EXPECT_EQ(cells.size(), t.names.size()) << name << ": " << line;
        std::map<std::string, std::string> row;
        for (std::size_t c = 0; c < cells.size() && c < t.names.size(); ++c) row[t.names[c]] = cells[c];
        t.rows.push_back(row);
    }
    return t;
}

const char* const ELECTRODE[] = {"S1", "S2", "A"};

// V_S1 = 0 and V_S2 = 40 V at the start, then the sign of V_S1 - V_S2
// reverses every 0.3 us through 50 ns ramps: too low a voltage to fire, so
// that ten thousand steps take seconds.
std::string weak_waveform() {
    std::string table = "1   0.0   0.0  40.0  0.0\n";
    int row = 2;
    for (int k = 0; k < 5; ++k) {
        const double zero = 0.1e-6 + 0.3e-6 * k;
        const bool s1_high = k % 2 == 0;
        char line[160];
        std::snprintf(line, sizeof line, "%d %.4E 0.0 0.0 0.0\n%d %.4E %.1f %.1f 0.0\n%d %.4E %.1f %.1f 0.0\n", row,
                      zero, row + 1, zero + 0.05e-6, s1_high ? 40.0 : 0.0, s1_high ? 0.0 : 40.0, row + 2,
                      zero + 0.25e-6, s1_high ? 40.0 : 0.0, s1_high ? 0.0 : 40.0);
        table += line;
        row += 3;
    }
    return "3        number of electrodes (S1, S2, address)\nSmart Start voltages\n\n\n\n"
           "label  time(s)     V_S1     V_S2    V_addr\n0      0.0D+00      0.0    40.0      0.0\n"
           "Applied voltages: label, time (s), V_S1, V_S2, V_addr; linear in between\n" +
           table +
           "Sin Voltage (added to the table when its flag is 1)\nflag, then window start, window end and decay "
           "time (s)\n0\n0.0  0.0  1.0\nrows: electrode label, amplitude (V), period (s), time shift (s)\n\n"
           "Meander Voltage (added to the table when its flag is 1)\nflag, then window start, window end and "
           "decay time (s)\n0\n0.0  0.0  1.0\nrows: electrode label, Vlow, Vhigh (V), period (s), duty factor\n";
}

}  // namespace

// 4200 steps of the example: the ramps, the first pulse, then the breakdown
// of the second with ions from 46 to some 30,000 records. Over the whole run
// the currents integrate to the change of each electrode's charge from the
// field solves; the first pulse's drive energy is the field energy gained
// plus the work on the particles.
TEST(Binary, ReportOfTheExampleRunClosesChargeAndEnergy) {
    TempFolder folder;
    copy_example_case();
    const RunResult r = run_pdpcell("--max-steps 4200 --quiet < /dev/null > console.txt");
    ASSERT_EQ(r.status, 0) << TempFolder::read("console.txt");

    const Table currents = read_table("currents.csv");
    const Table charges = read_table("electrode_charge.csv");
    const Table pulses = read_table("pulses.csv");
    EXPECT_EQ(currents.comment.rfind("# pdpcell currents: one row every 10 steps (1 ns)", 0), 0u);
    EXPECT_EQ(currents.names.size(), 13u);
    EXPECT_EQ(currents.names[5], "I_S1_uA");
    EXPECT_EQ(pulses.names[32], "VUV_efficiency");
    ASSERT_EQ(currents.rows.size(), 419u);  // steps 11, 21, ..., 4191
    EXPECT_EQ(currents.rows.front().at("step"), "11");
    ASSERT_EQ(charges.rows.size(), 42u);    // a field solve every 100 steps
    EXPECT_GT(currents.at(418, "ions_real"), 20000);

    const int first = std::stoi(charges.rows.front().at("step")), last = std::stoi(charges.rows.back().at("step"));
    for (int e = 0; e < 3; ++e) {
        const std::string name = ELECTRODE[e];
        double integral = 0.0, moved = 0.0;  // pC
        for (std::size_t row = 0; row < currents.rows.size(); ++row) {
            const int step = std::stoi(currents.rows[row].at("step"));
            if (step <= first || step > last) continue;
            const double pc = currents.at(row, "I_" + name + "_uA") * 1e-3;  // uA over 1 ns
            integral += pc;
            moved += std::fabs(pc);
        }
        const double change = charges.at(charges.rows.size() - 1, "Q_solve_" + name + "_pC") -
                              charges.at(0, "Q_solve_" + name + "_pC");
        EXPECT_GT(moved, 0.5) << name;
        EXPECT_NEAR(integral, change, 0.01 * moved) << name;
    }
    // S1 takes 180 V through the run: a positive charge comes in.
    EXPECT_GT(charges.at(charges.rows.size() - 1, "Q_solve_S1_pC") - charges.at(0, "Q_solve_S1_pC"), 1.0);

    ASSERT_EQ(pulses.rows.size(), 1u);  // 0 to 0.1 us; the second is still on
    EXPECT_EQ(pulses.rows[0].at("pulse"), "1");
    EXPECT_EQ(pulses.rows[0].at("fired"), "0");
    EXPECT_EQ(pulses.rows[0].at("delay_ns"), "");
    EXPECT_DOUBLE_EQ(pulses.at(0, "V_applied_V"), -180.0);
    EXPECT_NEAR(pulses.at(0, "t_end_us"), 0.1001, 1e-9);
    const double drive = pulses.at(0, "E_drive_nJ");
    const double used = pulses.at(0, "dE_field_nJ") + pulses.at(0, "E_electrons_nJ") + pulses.at(0, "E_ions_nJ");
    EXPECT_NEAR(used, drive, 0.01 * std::fabs(drive));
}

// Ten thousand steps of a waveform too weak to fire, checkpointed at step
// 10001 by the program itself; the run restarted from that checkpoint cuts
// the report files back and continues them to the same bytes. Every pulse
// closes its energy and starts with the wall voltage the last one ended with.
// (The first run leaves its files past the checkpoint, as a killed run would.)
TEST(Binary, RestartedRunContinuesTheReportFilesExactly) {
    TempFolder folder;
    copy_example_case();
    TempFolder::write("Vdata.txt", weak_waveform());
    const RunResult first = run_pdpcell("--max-steps 10100 --quiet < /dev/null > console.txt");
    ASSERT_EQ(first.status, 0) << TempFolder::read("console.txt");
    ASSERT_TRUE(fs::exists("restart.report"));
    std::map<std::string, std::string> written;
    for (const char* name : {"currents.csv", "pulses.csv", "electrode_charge.csv"}) written[name] = TempFolder::read(name);

    const Table pulses = read_table("pulses.csv");
    ASSERT_EQ(pulses.rows.size(), 4u);  // reversals at 0.1, 0.4, 0.7 and 1.0 us
    for (std::size_t p = 0; p < pulses.rows.size(); ++p) {
        EXPECT_EQ(pulses.rows[p].at("fired"), "0");
        const double drive = pulses.at(p, "E_drive_nJ");
        const double work = pulses.at(p, "E_electrons_nJ") + pulses.at(p, "E_ions_nJ");
        // The capacitive part closes exactly; what the few seed particles
        // take, to the frozen field's error (2 to 4 % here).
        EXPECT_GT(work, 0.0);
        EXPECT_NEAR(pulses.at(p, "dE_field_nJ") + work, drive, 0.1 * work + 1e-6 * std::fabs(drive))
            << "pulse " << p + 1;  // the columns' seven digits
        if (p > 0) {
            EXPECT_EQ(pulses.rows[p].at("Vwall_start_V"), pulses.rows[p - 1].at("Vwall_end_V"));
        }
        EXPECT_DOUBLE_EQ(std::fabs(pulses.at(p, "V_applied_V")), 40.0);
    }

    std::string input = TempFolder::read("input_file.txt");
    const std::size_t flag = input.find("0        restart flag");
    ASSERT_NE(flag, std::string::npos);
    input[flag] = '1';
    TempFolder::write("input_file.txt", input);
    const RunResult second = run_pdpcell("--max-steps 10100 --quiet < /dev/null > console2.txt");
    ASSERT_EQ(second.status, 0) << TempFolder::read("console2.txt");
    for (const auto& [name, text] : written) EXPECT_TRUE(TempFolder::read(name) == text) << name << " differs";
}

namespace {

// eV of each process in the tallies' order (elastic Xe, Ne; Xe levels 1-6,
// Xe ionization; Ne levels 1-6, Ne ionization), from the gas's data tables.
constexpr double THRESHOLD_EV[16] = {0,     0,     8.31,  8.44,  9.69,  10.0, 11.0, 11.7,
                                     12.12, 16.62, 16.67, 16.84, 18.72, 20.0, 20.65, 21.56};

// The example cell in its start-of-run state: the walls charged so that the
// gap is free of field at the Smart Start voltages (V_S1 = 0, V_S2 = 180 V).
void start_example_cell() {
    copy_example_case();
    driver::reset_all();
    testing::internal::CaptureStdout();
    geometry::build_geometry();
    potential::setup_sor_coefficients();
    voltage_file::read_voltage_file();
    sustain_state::prepare_sustain_state(1);
    testing::internal::GetCapturedStdout();
}

// The potential of the electrodes alone at the voltages v (V) on the front
// dielectric's surface, averaged over S1 less over S2: the surface lies
// between the last dielectric node and the first gas node, where the normal
// displacement is continuous.
double drive_surface_difference(const double v[3]) {
    using namespace mesh;
    const double* psi = electrode_response::unit_potential;
    auto drive = [&](int n) { return v[0] * psi[3 * n] + v[1] * psi[3 * n + 1] + v[2] * psi[3 * n + 2]; };
    double sum[2] = {}, count[2] = {};
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j) {
            const int e = electrode_map[node(1, j, k)] - 1;
            if ((e != 0 && e != 1) || material_map[padded(ilo - 1, j, k)] != 1) continue;
            const double eps = eps_node[node(ilo - 1, j, k)];
            sum[e] += (drive(node(ilo, j, k)) + eps * drive(node(ilo - 1, j, k))) / (eps + 1);
            count[e] += 1;
        }
    return sum[0] / count[0] - sum[1] / count[1];
}

}  // namespace

// The report's step fed by hand in the example cell: the voltages reverse
// at steps 25 and 65, between the rows of steps 21, 31, ...; an ion of 5e5
// real ions appears in step 22, one of 5e6 in step 47 (the second pulse
// fires); the first pulse's collisions are a known set. The pulse that ends
// at a reversal takes the charge moved before it; the wall voltage at the
// start cancels the electrodes' over the field-free gap.
TEST(PulseReport, KnownCollisionsChargesFiringAndTheSmartStartWallVoltage) {
    TempFolder folder;
    start_example_cell();
    const double dt = 1e-10, e = mesh::ELECTRON_CHARGE;
    const double x = 0.5 * (mesh::xlow + mesh::xhigh), y = 0.3 * mesh::ylow + 0.7 * mesh::yhigh,
                 z = 0.5 * (mesh::zlow + mesh::zhigh);
    double count[16], recoil = 3e-15;  // J
    for (int k = 0; k < 16; ++k) count[k] = 1000.0 * (k + 1) + 7 * k * k;
    for (int n = 1; n <= 70; ++n) {
        const bool s1_high = n >= 25 && n < 65;
        const double v[3] = {s1_high ? 180.0 : 0.0, s1_high ? 0.0 : 180.0, 0.0};
        for (int f = 0; f < 3; ++f) electrodes::electrode_voltage[f + 1] = v[f];
        if (n == 23) PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::ions, 5e5 * e, 0.0, x, y, z, 0, 0, 0, 1);
        if (n == 48) PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::ions, 5e6 * e, 0.0, x, y, z, 0, 0, 0, 1);
        if (n == 10) {
            for (int k = 0; k < 16; ++k) pass_output::pass_tally.collided[k] = count[k] * e;
            pass_output::pass_tally.recoil_energy = recoil;
        }
        pulse_report::account_step(n, (n - 1) * dt, dt, false);
    }
    pulse_report::reset();
    const Table pulses = read_table("pulses.csv");
    const Table currents = read_table("currents.csv");
    ASSERT_EQ(pulses.rows.size(), 2u);

    // Smart Start: the gap is free of field, so over the gas the walls'
    // potential difference cancels the electrodes' (to the walls' charge
    // placed from the start-up solve's potential: 4 % here).
    const double smart_start[3] = {0.0, 180.0, 0.0};
    const double drive = drive_surface_difference(smart_start);  // V
    EXPECT_LT(drive, -100.0);
    EXPECT_NEAR(pulses.at(0, "Vwall_start_V"), -drive, 0.05 * std::fabs(drive));

    // The collisions of the first pulse against the hand count.
    const char* const columns[16] = {"n_elastic_Xe", "n_elastic_Ne", "n_exc_Xe1", "n_exc_Xe2", "n_exc_Xe3", "n_exc_Xe4",
                                     "n_exc_Xe5",    "n_exc_Xe6",    "n_ion_Xe",  "n_exc_Ne1", "n_exc_Ne2", "n_exc_Ne3",
                                     "n_exc_Ne4",    "n_exc_Ne5",    "n_exc_Ne6", "n_ion_Ne"};
    double lost = recoil;  // J
    for (int k = 0; k < 16; ++k) {
        EXPECT_NEAR(pulses.at(0, columns[k]), count[k], 1e-6 * count[k]) << columns[k];
        EXPECT_EQ(pulses.at(1, columns[k]), 0.0) << columns[k];
        lost += count[k] * e * THRESHOLD_EV[k];
    }
    EXPECT_NEAR(pulses.at(0, "E_collisions_nJ"), lost * 1e9, 1e-4 * lost * 1e9);
    // The VUV: Xe levels 1 and 2 over the drive's energy.
    const double vuv = (count[2] * 8.31 + count[3] * 8.44) * e;  // J
    const double drive_energy = pulses.at(0, "E_drive_nJ") * 1e-9;
    EXPECT_NE(drive_energy, 0.0);
    EXPECT_NEAR(pulses.at(0, "VUV_efficiency"), vuv / drive_energy, 1e-4 * std::fabs(vuv / drive_energy));

    // Each pulse's charge: the drive's jump at its end, plus what the ion
    // born in it moved (the row after its birth holds that alone).
    const auto row_of = [&](int step) {
        for (std::size_t r = 0; r < currents.rows.size(); ++r)
            if (currents.rows[r].at("step") == std::to_string(step)) return r;
        ADD_FAILURE() << "no row of step " << step;
        return std::size_t{0};
    };
    const double small = currents.at(row_of(31), "Icond_S1_uA") * 1e-3, big = currents.at(row_of(51), "Icond_S1_uA") * 1e-3;  // pC
    EXPECT_NE(small, 0.0);
    EXPECT_NEAR(big, 10 * small, 1e-4 * std::fabs(big));
    EXPECT_EQ(currents.at(row_of(41), "Icond_S1_uA"), 0.0);
    for (int p = 0; p < 2; ++p) {
        const double jump = p == 0 ? 180.0 : -180.0;  // V, on S1 and minus on S2
        double displaced = 0.0;  // pC
        for (int s : {0, 1}) displaced += electrode_response::capacitance[0][s] * jump * 1e12 * (s == 0 ? 1 : -1);
        EXPECT_NEAR(pulses.at(p, "Q_S1_pC"), displaced + (p == 0 ? small : big), 1e-5 * std::fabs(displaced)) << p + 1;
    }

    EXPECT_EQ(pulses.rows[0].at("fired"), "0");
    EXPECT_EQ(pulses.rows[0].at("delay_ns"), "");
    EXPECT_NEAR(pulses.at(0, "t_end_us"), 24 * dt * 1e6, 1e-12);
    EXPECT_EQ(pulses.rows[1].at("fired"), "1");
    EXPECT_DOUBLE_EQ(pulses.at(1, "V_applied_V"), 180.0);
    EXPECT_NEAR(pulses.at(1, "delay_ns"), (50 - 24) * dt * 1e9, 1e-6);
    EXPECT_NEAR(pulses.at(1, "I_peak_uA"), big * 1e3, 1e-5 * std::fabs(big * 1e3));
    EXPECT_EQ(pulses.rows[1].at("Vwall_start_V"), pulses.rows[0].at("Vwall_end_V"));
}
