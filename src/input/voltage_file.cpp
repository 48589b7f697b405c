#include "input/voltage_file.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/list_reader.hpp"
#include "input/cell_geometry.hpp"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>

namespace voltage_file {

int n_electrodes = 0;
int NDATAVMIN = 1, NDATAVMAX = 0;
std::vector<double> voltage_time;
std::vector<double> voltage_table;
double smart_start_voltage[MAX_ELECTRODES + 1];
int sin_flag = 0;
double sin_t_start, sin_t_end, sin_tau;
double sin_amplitude[MAX_ELECTRODES + 1], sin_period[MAX_ELECTRODES + 1], sin_shift[MAX_ELECTRODES + 1];
int meander_flag = 0;
double meander_t_start, meander_t_end, meander_tau;
double Vlow[MAX_ELECTRODES + 1], Vhigh[MAX_ELECTRODES + 1], Ti[MAX_ELECTRODES + 1],
    dutyfactor[MAX_ELECTRODES + 1];

namespace {

const char* const FILE_NAME = "Vdata.txt";
constexpr std::size_t HEADING_WIDTH = 100;  // characters of a line searched for a heading

// Closes the file however the reading ends, error or not.
struct OpenFile {
    std::FILE* f = nullptr;
    ~OpenFile() {
        if (f != nullptr) std::fclose(f);
    }
};

bool contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// Waveform values drive the field solve directly: an infinite or NaN value is
// refused like any other unreadable number.
bool read_value(fortran::ListReader& in, double& v) { return in.read_real(v) && std::isfinite(v); }

bool read_values(fortran::ListReader& in, double* v, int n) {
    for (int m = 0; m < n; ++m)
        if (!read_value(in, v[m])) return false;
    return true;
}

// Table rows: lines after line 8 whose first value is a number, up to the
// first line that is not one. A free-form read passes over empty lines, so
// blank lines inside the table neither count nor end it, and the rows read
// later pass over them in the same way.
long long count_table_rows(fortran::ListReader& in) {
    if (!in.skip_lines(8)) return 0;
    long long rows = 0;
    for (;;) {
        in.begin_record();
        double first = 0.0;
        if (!in.read_real(first)) return rows;
        ++rows;
    }
}

void read_table(fortran::ListReader& in, long long rows) {
    if (rows > INT_MAX) pdp::fatal("ERROR:NOT ENOUGH MEMORY for VOLTAGE_");
    NDATAVMIN = 1;
    NDATAVMAX = static_cast<int>(rows);
    try {
        voltage_time.assign(static_cast<std::size_t>(NDATAVMAX), 0.0);
        voltage_table.assign(static_cast<std::size_t>(NDATAVMAX) * static_cast<std::size_t>(n_electrodes), 0.0);
    } catch (const std::exception&) {
        pdp::fatal("ERROR:NOT ENOUGH MEMORY for VOLTAGE_");
    }

    in.skip_lines(1);  // line 6
    in.begin_record();
    int label = 0;
    double time = 0.0;
    if (!in.read_integer(label) || !read_value(in, time) ||
        !read_values(in, smart_start_voltage + 1, n_electrodes))
        pdp::fatal("ERROR: Reading Smart Start section of Vdata.txt file");
    in.skip_lines(1);  // line 8

    for (int i = 1; i <= NDATAVMAX; ++i) {
        in.begin_record();
        double* row = voltage_table.data() + static_cast<std::size_t>(i - 1) * n_electrodes;
        if (!in.read_integer(label) || !read_value(in, voltage_time[i - 1]) ||
            !read_values(in, row, n_electrodes))
            pdp::fatal("ERROR: Reading Applied Voltage section of Vdata.txt file. Check number of electrodes...");
        if (voltage_time[i - 1] < voltage_time[std::max(1, i - 1) - 1])
            pdp::fatal("ERROR: Times in Applied Voltage section of Vdata.txt file MUST BE IN CHRONOLOGICAL ORDER");
    }
}

// Heading line, then: a skipped line, the flag, the window, two skipped lines,
// and, when the flag is set, one row per electrode: a label and the values.
// Returns the text read last (the heading, or the last row's label), which
// the caller tests for a following section.
std::string read_sin_section(fortran::ListReader& in, const std::string& heading) {
    std::string last = heading;
    in.skip_lines(1);
    in.begin_record();
    if (!in.read_integer(sin_flag))
        pdp::fatal("ERROR: Reading flag from line just bellow Sin Voltage from Vdata.txt file");
    in.begin_record();
    if (!read_value(in, sin_t_start) || !read_value(in, sin_t_end) || !read_value(in, sin_tau))
        pdp::fatal("ERROR: Reading sin interval from Sin Voltage from Vdata.txt file");
    in.skip_lines(2);
    if (sin_flag == 0) return last;

    for (int e = 1; e <= n_electrodes; ++e) {
        in.begin_record();
        if (!in.read_word(last) || !read_value(in, sin_amplitude[e]) || !read_value(in, sin_period[e]) ||
            !read_value(in, sin_shift[e]))
            pdp::fatal("ERROR: Reading (Voltage,Period,Time Shift) data from Sin Voltage section of Vdata.txt");
    }
    // A zero period is harmless only for a wave of zero amplitude.
    for (int e = 1; e <= n_electrodes; ++e) {
        if (sin_period[e] != 0.0) continue;
        if (sin_amplitude[e] != 0.0) pdp::fatal("ERROR: Period in Sin Voltage must not be zero");
        sin_period[e] = 1.0;
    }
    // With no decay time the exponential has no meaning (0/0 or a silent 0).
    if (sin_tau == 0.0) pdp::fatal("ERROR: Decay time in Sin Voltage must not be zero");
    last.resize(std::min(last.size(), HEADING_WIDTH));
    return last;
}

void read_meander_section(fortran::ListReader& in) {
    in.skip_lines(1);
    in.begin_record();
    if (!in.read_integer(meander_flag))
        pdp::fatal("ERROR: Reading flag from line just bellow Meander Voltage from Vdata.txt file");
    in.begin_record();
    if (!read_value(in, meander_t_start) || !read_value(in, meander_t_end) || !read_value(in, meander_tau))
        pdp::fatal("ERROR: Reading meander interval from Meander Voltage from Vdata.txt file");
    in.skip_lines(2);
    if (meander_flag == 0) return;

    std::string label;
    for (int e = 1; e <= n_electrodes; ++e) {
        in.begin_record();
        if (!in.read_word(label) || !read_value(in, Vlow[e]) || !read_value(in, Vhigh[e]) ||
            !read_value(in, Ti[e]) || !read_value(in, dutyfactor[e]))
            pdp::fatal(
                "ERROR: Reading (elec#,Vlowi,Vhighi,Ti,sec,dutyfactor={0,1}) data from Meander Voltage section of "
                "Vdata.txt");
    }
    // As for the sine: a zero period only where both levels agree, so the
    // phase does not matter; anything else would switch levels on NaN.
    for (int e = 1; e <= n_electrodes; ++e) {
        if (Ti[e] != 0.0) continue;
        if (Vlow[e] != Vhigh[e]) pdp::fatal("ERROR: Period in Meander Voltage must not be zero");
        Ti[e] = 1.0;
    }
    if (meander_tau == 0.0) pdp::fatal("ERROR: Decay time in Meander Voltage must not be zero");
}

void scan_sections(fortran::ListReader& in) {
    std::string line;
    for (;;) {
        in.begin_record();
        if (!fortran::read_text_line(in.in, line)) return;
        line.resize(std::min(line.size(), HEADING_WIDTH));
        if (contains(line, "Sin")) {
            // The text read last may itself name a meander section.
            if (contains(read_sin_section(in, line), "Meander")) read_meander_section(in);
        } else if (contains(line, "Meander")) {
            read_meander_section(in);
        }
    }
}

}  // namespace

void read_voltage_file() {
    OpenFile file;
    file.f = std::fopen(FILE_NAME, "r");
    if (file.f == nullptr) pdp::fatal("ERROR: Can't open file: Vdata.txt");
    fortran::ListReader in(file.f);

    const long long rows = count_table_rows(in);
    if (rows < 2)
        pdp::fatal("ERROR: NDATAVMIN > NDATAVMAX, Applied Voltage section in Vdata.txt must contain at least 2 lines");

    if (std::fseek(file.f, 0, SEEK_SET) != 0) pdp::fatal("ERROR: rewind of Vdata.txt file failed");
    in = fortran::ListReader(file.f);
    in.begin_record();
    if (!in.read_integer(n_electrodes))
        pdp::fatal("ERROR: Reading first line (number of electrods) from Vdata.txt file");

    const int geometry_electrodes = geometry::highest_electrode();
    if (geometry_electrodes != n_electrodes)
        pdp::fatal("ERROR: number of electrodes from [GEOMETRY] section of Input_File.txt - " +
                   fortran::free_integer(geometry_electrodes) +
                   " does not agree with the number of electrodes from Vdata.txt - " +
                   fortran::free_integer(n_electrodes));
    // The per-electrode arrays have room for MAX_ELECTRODES.
    if (n_electrodes < 0 || n_electrodes > MAX_ELECTRODES)
        pdp::fatal("ERROR: Vdata.txt gives " + fortran::free_integer(n_electrodes) +
                   " electrodes; the program holds 0 to " + fortran::free_integer(MAX_ELECTRODES));

    in.skip_lines(4);  // lines 2-5
    read_table(in, rows);
    scan_sections(in);
}

void reset() {
    n_electrodes = 0;
    NDATAVMIN = 1;
    NDATAVMAX = 0;
    voltage_time.clear();
    voltage_table.clear();
    sin_flag = 0;
    meander_flag = 0;
    sin_t_start = sin_t_end = sin_tau = 0.0;
    meander_t_start = meander_t_end = meander_tau = 0.0;
    for (double* a : {smart_start_voltage, sin_amplitude, sin_period, sin_shift, Vlow, Vhigh, Ti, dutyfactor})
        std::fill(a, a + MAX_ELECTRODES + 1, 0.0);
}

}  // namespace voltage_file
