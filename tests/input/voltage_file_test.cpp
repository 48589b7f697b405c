#include "input/voltage_file.hpp"

#include "common/fatal_error.hpp"
#include "common/temp_folder.hpp"
#include "mesh/mesh_arrays.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using namespace voltage_file;

namespace {

// Lines 1-8 for three electrodes, starting voltages 180, 0, 0.
const std::string HEAD =
    "3   electrodes\n"
    "comment line 2\n\n\n\n"
    "label time V1 V2 V3\n"
    "0  0.0D+00  180.0  0.0  0.0\n"
    "applied voltages\n";

const std::string TWO_ROWS =
    "1  0.0      180.0  0.0  0.0\n"
    "2  1.0E-07    0.0  0.0 90.0\n";

// Each test runs in a fresh folder with a geometry of three electrodes.
class VoltageFile : public ::testing::Test {
protected:
    TempFolder folder;

    void SetUp() override {
        set_geometry_electrodes(3);
        reset();
    }
    void TearDown() override { reset(); }

    static void set_geometry_electrodes(int n) {
        std::fill(mesh::electrode_map, mesh::electrode_map + mesh::NODE_COUNT, 0);
        mesh::electrode_map[mesh::node(3, 5, 7)] = n;
    }
    static void write(const std::string& text) { TempFolder::write("Vdata.txt", text); }

    // Reads text as "Vdata.txt" and returns what the failure printed.
    static std::string failure_of(const std::string& text) {
        write(text);
        testing::internal::CaptureStdout();
        EXPECT_THROW(read_voltage_file(), pdp::FatalError);
        return testing::internal::GetCapturedStdout();
    }
    static double table(int e, int row) { return voltage_table[(row - 1) * n_electrodes + e - 1]; }
};

}  // namespace

TEST_F(VoltageFile, ReadsTheExampleCase) {
    fs::copy_file(fs::path(PDPCELL_SOURCE_DIR) / "examples/sustain/Vdata.txt", "Vdata.txt");
    read_voltage_file();
    EXPECT_EQ(n_electrodes, 3);
    EXPECT_EQ(NDATAVMIN, 1);
    EXPECT_EQ(NDATAVMAX, 85);
    ASSERT_EQ(voltage_time.size(), 85u);
    ASSERT_EQ(voltage_table.size(), 3u * 85u);
    EXPECT_EQ(smart_start_voltage[1], 0.0);
    EXPECT_EQ(smart_start_voltage[2], 180.0);
    EXPECT_EQ(voltage_time[1], 1.0e-7);
    EXPECT_EQ(table(1, 3), 180.0);
    EXPECT_EQ(table(2, 3), 0.0);
    EXPECT_EQ(voltage_time[84], 7.0e-5);
    EXPECT_EQ(table(2, 85), 180.0);
    EXPECT_EQ(sin_flag, 0);
    EXPECT_EQ(meander_flag, 0);
}

TEST_F(VoltageFile, CountsTableRowsUpToTheFirstLineThatIsNotANumber) {
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\nSin\n"),
              "ERROR: NDATAVMIN > NDATAVMAX, Applied Voltage section in Vdata.txt must contain at least 2 lines\n");
    EXPECT_EQ(failure_of(""),
              "ERROR: NDATAVMIN > NDATAVMAX, Applied Voltage section in Vdata.txt must contain at least 2 lines\n");

    // Blank lines inside the table neither count nor end it; rows after a
    // comment line are no longer table rows.
    write(HEAD + "1 0.0 180 0 0\n\n   \n2 1e-7 0 0 90\n\n3 2e-7 0 180 0\n# end\n4 3e-7 0 0 0\n");
    read_voltage_file();
    EXPECT_EQ(NDATAVMAX, 3);
    EXPECT_EQ(voltage_time[2], 2.0e-7);
    EXPECT_EQ(table(3, 2), 90.0);
    EXPECT_EQ(table(2, 3), 180.0);
}

TEST_F(VoltageFile, FreeFormNumbersAndRecordsSpanningLines) {
    // Commas, blanks and Fortran or C exponents.
    write("3\n\n\n\n\n\n0, 0.0, 1.5D+02, -2.5,0\n\n"
          "1, 0.0D0, 10, 20, 30\n"
          "2\t1.0d-07 11 21 31 ignored rest\n"
          "Sin\n\n1\n0.0 1.0E-07 1.0\n\n\n"
          "S1 10.0\n 2.0e-8 1.0e-9\n"
          "S2 1,2\n3\n"
          "A 4 5 6\n");
    read_voltage_file();
    EXPECT_EQ(smart_start_voltage[1], 150.0);
    EXPECT_EQ(smart_start_voltage[2], -2.5);
    EXPECT_EQ(voltage_time[1], 1.0e-7);
    EXPECT_EQ(table(3, 2), 31.0);
    // A row of a section may go on to the next line.
    EXPECT_EQ(sin_period[1], 2.0e-8);
    EXPECT_EQ(sin_shift[1], 1.0e-9);
    EXPECT_EQ(sin_shift[2], 3.0);
    EXPECT_EQ(sin_amplitude[3], 4.0);

    // A table row continued on the next line counts as two rows, so the
    // table reads one row past its end and stops the run.
    EXPECT_EQ(failure_of(HEAD + "1 0.0 10 20\n 30\n2 1e-7 0 0 0\nSin\n"),
              "ERROR: Reading Applied Voltage section of Vdata.txt file. Check number of electrodes...\n");
}

TEST_F(VoltageFile, EqualTimesAreAcceptedButTimeMustNotGoBack) {
    write(HEAD + "1 0.0 1 2 3\n2 1e-7 4 5 6\n3 1e-7 7 8 9\n");
    read_voltage_file();
    EXPECT_EQ(NDATAVMAX, 3);
    EXPECT_EQ(table(1, 3), 7.0);
    EXPECT_EQ(failure_of(HEAD + "1 0.0 1 2 3\n2 2e-7 4 5 6\n3 1e-7 7 8 9\n"),
              "ERROR: Times in Applied Voltage section of Vdata.txt file MUST BE IN CHRONOLOGICAL ORDER\n");
}

TEST_F(VoltageFile, MissingFileNamesTheFile) {
    testing::internal::CaptureStdout();
    EXPECT_THROW(read_voltage_file(), pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Can't open file: Vdata.txt\n");
}

TEST_F(VoltageFile, HeaderErrors) {
    const std::string rest = HEAD.substr(HEAD.find('\n') + 1) + TWO_ROWS;
    EXPECT_EQ(failure_of("three electrodes\n" + rest),
              "ERROR: Reading first line (number of electrods) from Vdata.txt file\n");
    EXPECT_EQ(failure_of("2\n" + rest),
              "ERROR: number of electrodes from [GEOMETRY] section of Input_File.txt - 3 does not agree with the "
              "number of electrodes from Vdata.txt - 2\n");
    EXPECT_EQ(failure_of("3\n\n\n\n\n\n0 0.0 180 0 zero\n\n" + TWO_ROWS),
              "ERROR: Reading Smart Start section of Vdata.txt file\n");

    // More electrodes than the per-electrode arrays hold, even if the
    // geometry agrees.
    set_geometry_electrodes(41);
    EXPECT_EQ(failure_of("41\n" + rest), "ERROR: Vdata.txt gives 41 electrodes; the program holds 0 to 40\n");
}

TEST_F(VoltageFile, BadTableRowsStopTheRun) {
    const std::string message =
        "ERROR: Reading Applied Voltage section of Vdata.txt file. Check number of electrodes...\n";
    // A missing voltage makes the last row read the heading that follows.
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0\n2 1e-7 0 0 0\nSin Voltage\n"), message);
    // ... or run into the end of the file.
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0\n2 1e-7 0 0 0\n"), message);
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\n2 1e-7 0 V2 0\n"), message);
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\n2 1e-7 0 1e999 0\n"), message);
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\n2 Infinity 0 0 0\n"), message);
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\n2.5 1e-7 0 0 0\n"), message);  // label must be an integer
}

TEST_F(VoltageFile, FileWithoutSectionsAddsNoWaves) {
    write(HEAD + TWO_ROWS + "Other heading\n1\n0 1 1\n");
    read_voltage_file();
    EXPECT_EQ(sin_flag, 0);
    EXPECT_EQ(meander_flag, 0);
}

TEST_F(VoltageFile, SinusoidalSectionWithRowsAndZeroPeriodRule) {
    write(HEAD + TWO_ROWS +
          "Sin Voltage\nflag\n1\n1.0e-8, 9.0e-8, 5.0D-08\nrows\n\n"
          "S1 10.0 2.0e-8 1.0e-9\n"
          "S2 0.0  0.0    0.0\n"
          "A  -3.5 4.0e-8 0\n");
    read_voltage_file();
    EXPECT_EQ(sin_flag, 1);
    EXPECT_EQ(sin_t_start, 1.0e-8);
    EXPECT_EQ(sin_t_end, 9.0e-8);
    EXPECT_EQ(sin_tau, 5.0e-8);
    EXPECT_EQ(sin_amplitude[1], 10.0);
    EXPECT_EQ(sin_shift[1], 1.0e-9);
    EXPECT_EQ(sin_period[2], 1.0);  // zero period of a silent wave
    EXPECT_EQ(sin_amplitude[3], -3.5);
    EXPECT_EQ(sin_period[3], 4.0e-8);

    const std::string head = HEAD + TWO_ROWS + "Sin Voltage\nflag\n";
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 1e-7\n\n\nS1 10 2e-8 0\nS2 5 0 0\nA 0 1 0\n"),
              "ERROR: Period in Sin Voltage must not be zero\n");
    EXPECT_EQ(failure_of(head + "on\n"),
              "ERROR: Reading flag from line just bellow Sin Voltage from Vdata.txt file\n");
    EXPECT_EQ(failure_of(head + "1\n0 1e-7\n"), "ERROR: Reading sin interval from Sin Voltage from Vdata.txt file\n");
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 1e-7\n\n\nS1 10 2e-8 0\nS2 5 1e-8\n"),
              "ERROR: Reading (Voltage,Period,Time Shift) data from Sin Voltage section of Vdata.txt\n");
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 0\n\n\nS1 10 2e-8 0\nS2 5 1e-8 0\nA 0 1 0\n"),
              "ERROR: Decay time in Sin Voltage must not be zero\n");
}

TEST_F(VoltageFile, MeanderSectionAndItsErrors) {
    write(HEAD + TWO_ROWS +
          "Meander Voltage\nflag\n2\n0.0 1e-7 1.0\n\n\n"
          "S1 0 180 2e-8 0.5\n"
          "S2 5 5 0 0.25\n"
          "A -10 10 4e-8 1\n");
    read_voltage_file();
    EXPECT_EQ(meander_flag, 2);
    EXPECT_EQ(meander_t_end, 1.0e-7);
    EXPECT_EQ(meander_tau, 1.0);
    EXPECT_EQ(Vhigh[1], 180.0);
    EXPECT_EQ(Ti[1], 2.0e-8);
    EXPECT_EQ(dutyfactor[1], 0.5);
    EXPECT_EQ(Ti[2], 1.0);  // equal levels: the period does not matter
    EXPECT_EQ(Vlow[3], -10.0);
    EXPECT_EQ(dutyfactor[3], 1.0);

    const std::string head = HEAD + TWO_ROWS + "Meander Voltage\nflag\n";
    EXPECT_EQ(failure_of(head + "x\n"),
              "ERROR: Reading flag from line just bellow Meander Voltage from Vdata.txt file\n");
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 start\n"),
              "ERROR: Reading meander interval from Meander Voltage from Vdata.txt file\n");
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 1\n\n\nS1 0 180 2e-8 0.5\nS2 0 180 2e-8\nA 0 1 1 1\n"),
              "ERROR: Reading (elec#,Vlowi,Vhighi,Ti,sec,dutyfactor={0,1}) data from Meander Voltage section of "
              "Vdata.txt\n");
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 1\n\n\nS1 0 180 0 0.5\nS2 0 0 1 0\nA 0 0 1 0\n"),
              "ERROR: Period in Meander Voltage must not be zero\n");
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 0\n\n\nS1 0 180 1 0.5\nS2 0 0 1 0\nA 0 0 1 0\n"),
              "ERROR: Decay time in Meander Voltage must not be zero\n");
}

TEST_F(VoltageFile, SectionChainingAndOverwriting) {
    // Flag 0: no rows are read; the row lines are then scanned as ordinary
    // lines, and the one holding "Meander" starts a section.
    write(HEAD + TWO_ROWS +
          "Sin Voltage\nflag\n0\n0 1 1\n\n\n"
          "S1 10 2e-8 0\nMeander row label\nskipped\n3\n0 1e-7 1\n\n\n"
          "S1 0 1 1 0\nS2 0 1 1 0\nA 0 1 1 0\n");
    read_voltage_file();
    EXPECT_EQ(sin_flag, 0);
    EXPECT_EQ(sin_amplitude[1], 0.0);
    EXPECT_EQ(meander_flag, 3);
    EXPECT_EQ(Vhigh[3], 1.0);

    // A line with both words is a sinusoidal heading; with flag 0 the same
    // heading then starts a meander section right after it.
    reset();
    write(HEAD + TWO_ROWS + "Sin and Meander\nflag\n0\n0 1 1\n\n\nflag\n1\n0 1e-7 1\n\n\n"
          "S1 1 2 3 0.5\nS2 0 0 1 0\nA 0 0 1 0\n");
    read_voltage_file();
    EXPECT_EQ(sin_flag, 0);
    EXPECT_EQ(meander_flag, 1);
    EXPECT_EQ(Ti[1], 3.0);

    // A set flag: the last row's label is tested, and a later sinusoidal
    // section overwrites the first.
    reset();
    write(HEAD + TWO_ROWS +
          "Sin\n\n1\n0 1 1\n\n\nS1 1 1 0\nS2 2 1 0\nMeanderA 3 1 0\n"
          "\n1\n0 1 2\n\n\nS1 4 4 4 0\nS2 5 5 5 0\nA 6 6 6 0\n"
          "Sin again\n\n1\n0 2 2\n\n\nS1 7 1 0\nS2 8 1 0\nA 9 1 0\n");
    read_voltage_file();
    EXPECT_EQ(meander_flag, 1);
    EXPECT_EQ(Vlow[3], 6.0);
    EXPECT_EQ(sin_t_end, 2.0);
    EXPECT_EQ(sin_amplitude[3], 9.0);
}

TEST_F(VoltageFile, SectionEndingAtEndOfFileIsComplete) {
    // The two lines after the window are absent: nothing more was needed.
    write(HEAD + TWO_ROWS + "Meander\nflag\n0\n0 1 1");
    read_voltage_file();
    EXPECT_EQ(meander_flag, 0);
    EXPECT_EQ(meander_tau, 1.0);
}
