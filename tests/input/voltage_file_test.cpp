#include "input/voltage_file.hpp"

#include "common/fatal_error.hpp"
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"
#include "input/electrode_voltages.hpp"
#include "mesh/mesh_arrays.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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
    // The second line of a message: where in the file the reading was.
    static std::string at_line(int number, const std::string& text) {
        return "       (line " + std::to_string(number) + " of Vdata.txt: \"" + text + "\")\n";
    }
    static std::string at_end(int lines) {
        return "       (end of Vdata.txt after line " + std::to_string(lines) + ")\n";
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
    const std::string too_short =
        "ERROR: NDATAVMIN > NDATAVMAX, Applied Voltage section in Vdata.txt must contain at least 2 lines\n";
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\nSin\n"), too_short + at_line(10, "Sin"));
    EXPECT_EQ(failure_of(""), too_short + "       (Vdata.txt is empty)\n");

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
              "ERROR: Reading Applied Voltage section of Vdata.txt file. Check number of electrodes...\n" +
                  at_line(12, "Sin"));
}

TEST_F(VoltageFile, EqualTimesAreAcceptedButTimeMustNotGoBack) {
    write(HEAD + "1 0.0 1 2 3\n2 1e-7 4 5 6\n3 1e-7 7 8 9\n");
    read_voltage_file();
    EXPECT_EQ(NDATAVMAX, 3);
    EXPECT_EQ(table(1, 3), 7.0);
    EXPECT_EQ(failure_of(HEAD + "1 0.0 1 2 3\n2 2e-7 4 5 6\n3 1e-7 7 8 9\n"),
              "ERROR: Times in Applied Voltage section of Vdata.txt file MUST BE IN CHRONOLOGICAL ORDER\n" +
                  at_line(11, "3 1e-7 7 8 9"));
}

// Line 8 is a heading the reading skips. With the heading deleted, the
// table's first row moves up to line 8 and would be lost without a word.
TEST_F(VoltageFile, ARowOnTheHeadingLineIsRefusedWithItsLineNumber) {
    const std::string no_heading = HEAD.substr(0, HEAD.rfind("applied voltages\n")) + TWO_ROWS + "3 2e-7 0 0 0\n";
    const std::string message = failure_of(no_heading);
    EXPECT_EQ(message.rfind("ERROR: line 8 of Vdata.txt reads as a row of the voltage table", 0), 0u) << message;
    EXPECT_NE(message.find(at_line(8, "1  0.0      180.0  0.0  0.0")), std::string::npos) << message;
    EXPECT_NE(message.find("put the heading line back"), std::string::npos) << message;
    // Two electrodes: the row needs a label, a time and two voltages.
    set_geometry_electrodes(2);
    EXPECT_NE(failure_of("2\n\n\n\n\n\n0 0 180 0\n1,0.0,180,0\n2 1e-7 0 0\n3 2e-7 0 0\n").find("line 8"),
              std::string::npos);

    // A heading that starts with numbers but holds no whole row is a heading.
    set_geometry_electrodes(3);
    write(HEAD.substr(0, HEAD.rfind("applied voltages\n")) + "1 0.0 180 volts\n" + TWO_ROWS);
    read_voltage_file();
    EXPECT_EQ(NDATAVMAX, 2);
    EXPECT_EQ(table(3, 2), 90.0);
}

TEST_F(VoltageFile, MissingFileNamesTheFile) {
    testing::internal::CaptureStdout();
    EXPECT_THROW(read_voltage_file(), pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Can't open file: Vdata.txt\n");
}

TEST_F(VoltageFile, HeaderErrors) {
    const std::string rest = HEAD.substr(HEAD.find('\n') + 1) + TWO_ROWS;
    EXPECT_EQ(failure_of("three electrodes\n" + rest),
              "ERROR: Reading first line (number of electrods) from Vdata.txt file\n" +
                  at_line(1, "three electrodes"));
    EXPECT_EQ(failure_of("2\n" + rest),
              "ERROR: number of electrodes from [GEOMETRY] section of Input_File.txt - 3 does not agree with the "
              "number of electrodes from Vdata.txt - 2\n" + at_line(1, "2"));
    EXPECT_EQ(failure_of("3\n\n\n\n\n\n0 0.0 180 0 zero\n\n" + TWO_ROWS),
              "ERROR: Reading Smart Start section of Vdata.txt file\n" + at_line(7, "0 0.0 180 0 zero"));

    // More electrodes than the per-electrode arrays hold, even if the
    // geometry agrees.
    set_geometry_electrodes(41);
    EXPECT_EQ(failure_of("41\n" + rest), "ERROR: Vdata.txt gives 41 electrodes; the program holds 0 to 40\n" + at_line(1, "41"));
}

TEST_F(VoltageFile, BadTableRowsStopTheRun) {
    const std::string message =
        "ERROR: Reading Applied Voltage section of Vdata.txt file. Check number of electrodes...\n";
    // A missing voltage makes the last row read the heading that follows.
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0\n2 1e-7 0 0 0\nSin Voltage\n"), message + at_line(11, "Sin Voltage"));
    // ... or run into the end of the file.
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0\n2 1e-7 0 0 0\n"), message + at_end(10));
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\n2 1e-7 0 V2 0\n"), message + at_line(10, "2 1e-7 0 V2 0"));
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\n2 1e-7 0 1e999 0\n"), message + at_line(10, "2 1e-7 0 1e999 0"));
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\n2 Infinity 0 0 0\n"), message + at_line(10, "2 Infinity 0 0 0"));
    // The label must be an integer.
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\n2.5 1e-7 0 0 0\n"), message + at_line(10, "2.5 1e-7 0 0 0"));
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
              "ERROR: Period in Sin Voltage must not be zero\n" + at_line(18, "S2 5 0 0"));
    EXPECT_EQ(failure_of(head + "on\n"),
              "ERROR: Reading flag from line just bellow Sin Voltage from Vdata.txt file\n" + at_line(13, "on"));
    EXPECT_EQ(failure_of(head + "1\n0 1e-7\n"),
              "ERROR: Reading sin interval from Sin Voltage from Vdata.txt file\n" + at_end(14));
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 1e-7\n\n\nS1 10 2e-8 0\nS2 5 1e-8\n"),
              "ERROR: Reading (Voltage,Period,Time Shift) data from Sin Voltage section of Vdata.txt\n" + at_end(18));
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 0\n\n\nS1 10 2e-8 0\nS2 5 1e-8 0\nA 0 1 0\n"),
              "ERROR: Decay time in Sin Voltage must not be zero\n" + at_line(14, "0 1e-7 0"));
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
              "ERROR: Reading flag from line just bellow Meander Voltage from Vdata.txt file\n" + at_line(13, "x"));
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 start\n"),
              "ERROR: Reading meander interval from Meander Voltage from Vdata.txt file\n" +
                  at_line(14, "0 1e-7 start"));
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 1\n\n\nS1 0 180 2e-8 0.5\nS2 0 180 2e-8\nA 0 1 1 1\n"),
              "ERROR: Reading (elec#,Vlowi,Vhighi,Ti,sec,dutyfactor={0,1}) data from Meander Voltage section of "
              "Vdata.txt\n" + at_line(19, "A 0 1 1 1"));
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 1\n\n\nS1 0 180 0 0.5\nS2 0 0 1 0\nA 0 0 1 0\n"),
              "ERROR: Period in Meander Voltage must not be zero\n" + at_line(17, "S1 0 180 0 0.5"));
    EXPECT_EQ(failure_of(head + "1\n0 1e-7 0\n\n\nS1 0 180 1 0.5\nS2 0 0 1 0\nA 0 0 1 0\n"),
              "ERROR: Decay time in Meander Voltage must not be zero\n" + at_line(14, "0 1e-7 0"));
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

TEST_F(VoltageFile, VoltagesNoCellCanHoldAreRefusedWithTheirLine) {
    // Up to the limit, either sign, is accepted.
    write("3\n\n\n\n\n\n0 0.0 1.0E+05 -1.0E+05 0\n\n1 0.0 100000 0 -100000\n2 1e-7 0 0 0\n");
    read_voltage_file();
    EXPECT_EQ(smart_start_voltage[2], -1.0e5);
    EXPECT_EQ(table(3, 1), -1.0e5);

    EXPECT_EQ(failure_of("3\n\n\n\n\n\n0 0.0 0 5.0E+07 0\n\n" + TWO_ROWS),
              "ERROR: Smart Start voltage of electrode 2 in Vdata.txt is 5.000E+07 V; no cell holds more than "
              "1.000E+05 V\n" + at_line(7, "0 0.0 0 5.0E+07 0"));
    EXPECT_EQ(failure_of(HEAD + "1 0.0 180 0 0\n2 1e-7 0 0 -100000.1\n"),
              "ERROR: Applied voltage of electrode 3 in table row 2 in Vdata.txt is -1.000E+05 V; no cell holds "
              "more than 1.000E+05 V\n" + at_line(10, "2 1e-7 0 0 -100000.1"));
    EXPECT_EQ(failure_of(HEAD + TWO_ROWS + "Sin\n\n1\n0 1e-7 1\n\n\nS1 0 1 0\nS2 1e308 1e-8 0\nA 0 1 0\n"),
              "ERROR: Sin Voltage amplitude of electrode 2 in Vdata.txt is 1.0000000000000000E+308 V; no cell holds "
              "more than 1.000E+05 V\n" + at_line(18, "S2 1e308 1e-8 0"));
    EXPECT_EQ(failure_of(HEAD + TWO_ROWS + "Meander\n\n1\n0 1e-7 1\n\n\nS1 0 180 2e-8 0.5\nS2 0 0 1 0\nA -2e5 0 1 0\n"),
              "ERROR: Meander Voltage first level of electrode 3 in Vdata.txt is -2.000E+05 V; no cell holds more "
              "than 1.000E+05 V\n" + at_line(19, "A -2e5 0 1 0"));
}

// A wave is added as amplitude * exp(-(t - start)/tau) * sin(phase) (or a
// level times the same exponential) inside its window: a negative or tiny
// decay time grows it, a tiny period with a large shift overflows its phase.
TEST_F(VoltageFile, WavesThatGrowOrOverflowWhileTheyAreOnAreRefused) {
    const std::string sine = HEAD + TWO_ROWS + "Sin\n\n1\n";
    const std::string rows = "\n\n\nS1 0 1e-8 0\nS2 10 1e-8 0\nA 0 1e-8 0\n";
    EXPECT_EQ(failure_of(sine + "0 1e-7 -1e-300" + rows),
              "ERROR: Sin Voltage of electrode 1 in Vdata.txt overflows (its formula gives no finite value) inside "
              "its window; no cell holds more than 1.000E+05 V\n" + at_line(17, "S1 0 1e-8 0"));
    // Growth by e^10 over the window: 10 V becomes 2.2e5 V.
    std::string m = failure_of(sine + "0 1e-7 -1e-8" + rows);
    EXPECT_EQ(m.substr(0, m.find('\n')),
              "ERROR: Sin Voltage of electrode 2 in Vdata.txt reaches 2.203E+05 V inside its window; no cell holds "
              "more than 1.000E+05 V") << m;
    EXPECT_NE(m.find(at_line(18, "S2 10 1e-8 0")), std::string::npos) << m;
    // The phase overflows for a tiny period far from the shift, whatever the amplitude.
    m = failure_of(sine + "0 1e-7 1\n\n\nS1 0 1e-10 -1e300\nS2 0 1 0\nA 0 1 0\n");
    EXPECT_NE(m.find("ERROR: Sin Voltage of electrode 1 in Vdata.txt overflows"), std::string::npos) << m;
    m = failure_of(HEAD + TWO_ROWS + "Meander\n\n1\n0 1e-7 -1e-300\n\n\nS1 0 0 1 0\nS2 0 0 1 0\nA 0 0 1 0\n");
    EXPECT_NE(m.find("ERROR: Meander Voltage of electrode 1 in Vdata.txt overflows"), std::string::npos) << m;

    // The same growth where the wave is never on (its window lies after the
    // table) is harmless and accepted.
    write(sine + "1.0 2.0 -1e-300" + rows);
    EXPECT_NO_THROW(read_voltage_file());
}

TEST_F(VoltageFile, AcceptedWavesStayWithinTheirComputedLargestTerm) {
    // Growth by e^10 of 1 V, and a meander decaying from 500 ... 50000 V.
    write(HEAD + TWO_ROWS + "Sin\n\n1\n0 1e-7 -1e-8\n\n\nS1 1 3e-8 1e-9\nS2 -1 7e-9 0\nA 0.5 1e-8 0\n" +
          "Meander\n\n1\n2e-8 9e-8 2e-8\n\n\nS1 500 -50000 1e-8 0.3\nS2 0 0 1 0\nA 1 2 3e-8 0.5\n");
    read_voltage_file();
    double largest[4] = {0, 0, 0, 0};
    for (int e = 1; e <= 3; ++e) {
        largest[e] = electrodes::largest_sine_term(e) + electrodes::largest_meander_term(e);
        EXPECT_LE(largest[e], VOLTAGE_LIMIT);
    }
    EXPECT_NEAR(electrodes::largest_sine_term(1), std::exp(10.0), 1e-6 * std::exp(10.0));
    // The voltage stays within table value plus the waves at every time.
    double seen = 0.0;
    for (int n = 0; n <= 1000; ++n) {
        const double t = 1e-10 * n;
        electrodes::update_electrode_voltages(t, 1e-10);
        for (int e = 1; e <= 3; ++e) {
            const double s = t / 1e-7;
            const double plain = (1.0 - s) * table(e, 1) + s * table(e, 2);
            const double added = electrodes::electrode_voltage[e] - plain;
            EXPECT_LE(std::fabs(added), largest[e] * (1.0 + 1e-12) + 1e-9) << "t " << t << " electrode " << e;
            seen = std::max(seen, std::fabs(added) / largest[e]);
        }
    }
    EXPECT_GT(seen, 0.9);  // the bound is reached, not just respected
    electrodes::reset();
}

TEST_F(VoltageFile, FilesFromOtherEditors) {
    // A UTF-8 byte-order mark is passed over; CR LF line ends are read.
    write("\xEF\xBB\xBF" + HEAD + TWO_ROWS);
    read_voltage_file();
    EXPECT_EQ(n_electrodes, 3);
    EXPECT_EQ(table(3, 2), 90.0);
    reset();
    std::string crlf;
    for (char c : HEAD + TWO_ROWS) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    write(crlf);
    read_voltage_file();
    EXPECT_EQ(table(3, 2), 90.0);

    const std::string hint = "       save it as plain text (ASCII or UTF-8) with LF or CR LF line ends\n";
    std::string utf16le = "\xFF\xFE", utf16be;
    for (char c : HEAD + TWO_ROWS) {
        utf16le += std::string(1, c) + '\0';
        utf16be += std::string(1, '\0') + c;
    }
    EXPECT_EQ(failure_of(utf16le), "ERROR: Vdata.txt is in UTF-16 (little-endian)\n" + hint);
    EXPECT_EQ(failure_of(utf16be), "ERROR: Vdata.txt is in UTF-16 (big-endian)\n" + hint);
    std::string cr = HEAD + TWO_ROWS;
    std::replace(cr.begin(), cr.end(), '\n', '\r');
    EXPECT_EQ(failure_of(cr),
              "ERROR: Vdata.txt has lines that end in a carriage return alone (CR, old Macintosh line ends)\n" + hint);

    // A decimal comma splits a number in two, so times of 2 s and 1 s come
    // out of order; the message points at the line.
    std::string m = failure_of(HEAD + "1  2,5E-08 180 0 0\n2  1,0000E-07 0 0 90\n");
    EXPECT_EQ(m, "ERROR: Times in Applied Voltage section of Vdata.txt file MUST BE IN CHRONOLOGICAL ORDER\n" +
                     at_line(10, "2  1,0000E-07 0 0 90"));
    // A comment holding "Sin" starts a section: the message names the line
    // where that section's reading failed.
    m = failure_of(HEAD + TWO_ROWS + "# Sine drive is off in this case\nnothing follows\n");
    EXPECT_EQ(m, "ERROR: Reading flag from line just bellow Sin Voltage from Vdata.txt file\n" + at_end(12));
    // Long or odd lines are quoted cut and with control characters shown as '?'.
    m = failure_of(HEAD + "1 0.0 180 0 0\n2 1e-7 0 0\tX" + std::string(80, 'y') + "\n");
    EXPECT_NE(m.find(at_line(10, "2 1e-7 0 0?X" + std::string(48, 'y') + " ...")), std::string::npos) << m;
}

// These inputs used to run on with NaN or enormous voltages until the field
// solve never converged; now the program stops at once with the message.
TEST(VoltageFileBinary, ImpossibleVoltagesStopTheProgramAtOnce) {
    const fs::path example = fs::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain";
    const struct {
        const char* from;
        const char* to;
        const char* message;
    } cases[] = {
        {"2       1.0000E-07      0.0      0.0      0.0", "2       1.0000E-07      0.0      5.0E+09  0.0",
         "ERROR: Applied voltage of electrode 2 in table row 2 in Vdata.txt is 5.000E+09 V"},
        {"0      0.0D+00      0.0    180.0      0.0", "0      0.0D+00      0.0    5.0E+07    0.0",
         "ERROR: Smart Start voltage of electrode 2 in Vdata.txt is 5.000E+07 V"},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        fs::copy_file(example / "input_file.txt", "input_file.txt");
        std::string text = TempFolder::read((example / "Vdata.txt").string());
        const std::size_t at = text.find(c.from);
        ASSERT_NE(at, std::string::npos) << c.from;
        TempFolder::write("Vdata.txt", text.replace(at, std::strlen(c.from), c.to));
        const RunResult r = run_pdpcell("--max-steps 50 </dev/null");
        EXPECT_EQ(r.status, 1) << r.output;
        // At once: in the start-up, before the first step and its log line.
        EXPECT_NE(r.output.find("\n  steps run        none: the run stopped during its start-up\n"), std::string::npos)
            << r.output;
        EXPECT_FALSE(fs::exists("general.txt"));
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("       (line "), std::string::npos) << r.output;
    }

    // A sine section of amplitude 1e308 appended to the example.
    TempFolder folder;
    fs::copy_file(example / "input_file.txt", "input_file.txt");
    TempFolder::write("Vdata.txt", TempFolder::read((example / "Vdata.txt").string()) +
                                       "Sin Voltage\n\n1\n0 1e-6 1e-6\n\n\nS1 1e308 1e-7 0\nS2 0 1 0\nA 0 1 0\n");
    const RunResult r = run_pdpcell("--max-steps 50 </dev/null");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("ERROR: Sin Voltage amplitude of electrode 1 in Vdata.txt is 1.0000000000000000E+308 V"),
              std::string::npos) << r.output;
}
