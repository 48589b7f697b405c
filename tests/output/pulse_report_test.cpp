// The report files through the program as users run it: the currents
// integrate to the electrode charge of the field solves, a pulse's energy
// closes, and a restarted run continues the files byte for byte. (That the
// files do not depend on the thread count in --parallel, the tests of the
// parallel runs check with every file of the run folder.)
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"

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
