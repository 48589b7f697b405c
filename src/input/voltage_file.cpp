#include "input/voltage_file.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/list_reader.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"

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

constexpr std::size_t QUOTED_WIDTH = 60;   // characters of a line quoted in a message

bool contains(const std::string& text, const char* word) { return text.find(word) != std::string::npos; }

// A line of the file as a message quotes it: control characters shown as '?',
// long lines cut.
std::string quoted(const std::string& text) {
    std::string q = text.substr(0, QUOTED_WIDTH);
    for (char& c : q)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    if (text.size() > QUOTED_WIDTH) q += " ...";
    return "\"" + q + "\"";
}

// Where a message points: the line a value came from, and its text.
struct Place {
    long number = 0;
    std::string text;
    bool at_end = false;
};

Place place_of(const fortran::ListReader& in) { return Place{in.line_number, in.line, in.at_end}; }

// Every message about the file's contents says, on a second line, where the
// reading was: the line number is what a user needs to find the mistake.
[[noreturn]] void fail_at(const Place& place, const std::string& message, const std::string& advice = "") {
    std::string where;
    if (place.at_end && place.number == 0)
        where = "(Vdata.txt is empty)";
    else if (place.at_end)
        where = "(end of Vdata.txt after line " + std::to_string(place.number) + ")";
    else
        where = "(line " + std::to_string(place.number) + " of Vdata.txt: " + quoted(place.text) + ")";
    if (advice.empty()) pdp::fatal({message, "       " + where});
    pdp::fatal({message, "       " + where, "       " + advice});
}

[[noreturn]] void fail(const fortran::ListReader& in, const std::string& message, const std::string& advice = "") {
    fail_at(place_of(in), message, advice);
}

// A voltage for a message: 5.000E+09 V; three-digit exponents, which the
// edit descriptor writes without their E, in full.
std::string volts(double v) {
    if (!(std::fabs(v) < 1e100)) return fortran::free_real(v) + " V";
    std::string text = fortran::ES(v, 12, 3);
    return text.substr(text.find_first_not_of(' ')) + " V";
}

// Waveform values drive the field solve directly: an infinite or NaN value is
// refused like any other unreadable number.
bool read_value(fortran::ListReader& in, double& v) { return in.read_real(v) && std::isfinite(v); }

// A voltage read from the file, in V; `what` names it for the message.
void check_voltage(const fortran::ListReader& in, double v, const std::string& what) {
    if (std::fabs(v) <= VOLTAGE_LIMIT) return;
    fail(in, "ERROR: " + what + " in Vdata.txt is " + volts(v) + "; no cell holds more than " +
                 volts(VOLTAGE_LIMIT));
}

// A wave's largest term, as the voltage formulas compute it over the times the
// wave is on; infinite or NaN when they would overflow there.
void check_wave(const Place& row, double largest, const std::string& what) {
    if (largest <= VOLTAGE_LIMIT) return;
    const std::string reaches =
        std::isfinite(largest) ? "reaches " + volts(largest) : "overflows (its formula gives no finite value)";
    fail_at(row, "ERROR: " + what + " in Vdata.txt " + reaches +
                     " inside its window; no cell holds more than " + volts(VOLTAGE_LIMIT));
}

bool read_values(fortran::ListReader& in, double* v, int n) {
    for (int m = 0; m < n; ++m)
        if (!read_value(in, v[m])) return false;
    return true;
}

// One line read on its own, so that a read cannot go on to the next lines.
struct LoneLine {
    std::string text;
    std::FILE* f;
    fortran::ListReader in;
    explicit LoneLine(const std::string& line)
        : text(line + "\n"), f(fmemopen(text.data(), text.size(), "r")), in(f) {}
    ~LoneLine() {
        if (f != nullptr) std::fclose(f);
    }
};

// Whether a line alone reads as a row of the table: a label, a time and a
// voltage for each electrode, the electrode count taken from line 1.
bool reads_as_table_row(const std::string& line, const std::string& first_line) {
    LoneLine count(first_line), row(line);
    int electrodes = 0, label = 0;
    double values[MAX_ELECTRODES + 1];
    return count.f != nullptr && row.f != nullptr && count.in.read_integer(electrodes) && electrodes >= 0 &&
           electrodes <= MAX_ELECTRODES && row.in.read_integer(label) && read_values(row.in, values, electrodes + 1);
}

// Line 8 is the table's heading, which the reading skips: in a file whose
// heading was deleted it is the first row, and would be lost without a word.
bool skip_to_table(fortran::ListReader& in) {
    if (!in.read_line()) return false;
    const std::string first_line = in.line;
    if (!in.skip_lines(6) || !in.read_line()) return false;
    if (reads_as_table_row(in.line, first_line))
        fail(in, "ERROR: line 8 of Vdata.txt reads as a row of the voltage table, but line 8 is the table's "
                 "heading, which is skipped",
             "put the heading line back above the table, so that its first row is on line 9");
    return true;
}

// Table rows: lines after line 8 whose first value is a number, up to the
// first line that is not one. A free-form read passes over empty lines, so
// blank lines inside the table neither count nor end it, and the rows read
// later pass over them in the same way.
long long count_table_rows(fortran::ListReader& in) {
    if (!skip_to_table(in)) return 0;
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
        fail(in, "ERROR: Reading Smart Start section of Vdata.txt file");
    for (int e = 1; e <= n_electrodes; ++e)
        check_voltage(in, smart_start_voltage[e], "Smart Start voltage of electrode " + std::to_string(e));
    in.skip_lines(1);  // line 8

    for (int i = 1; i <= NDATAVMAX; ++i) {
        in.begin_record();
        double* row = voltage_table.data() + static_cast<std::size_t>(i - 1) * n_electrodes;
        if (!in.read_integer(label) || !read_value(in, voltage_time[i - 1]) ||
            !read_values(in, row, n_electrodes))
            fail(in, "ERROR: Reading Applied Voltage section of Vdata.txt file. Check number of electrodes...");
        if (voltage_time[i - 1] < voltage_time[std::max(1, i - 1) - 1])
            fail(in, "ERROR: Times in Applied Voltage section of Vdata.txt file MUST BE IN CHRONOLOGICAL ORDER");
        for (int e = 1; e <= n_electrodes; ++e)
            check_voltage(in, row[e - 1],
                          "Applied voltage of electrode " + std::to_string(e) + " in table row " + std::to_string(i));
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
        fail(in, "ERROR: Reading flag from line just bellow Sin Voltage from Vdata.txt file");
    in.begin_record();
    if (!read_value(in, sin_t_start) || !read_value(in, sin_t_end) || !read_value(in, sin_tau))
        fail(in, "ERROR: Reading sin interval from Sin Voltage from Vdata.txt file");
    const Place window = place_of(in);
    in.skip_lines(2);
    if (sin_flag == 0) return last;

    Place rows[MAX_ELECTRODES + 1];
    for (int e = 1; e <= n_electrodes; ++e) {
        in.begin_record();
        if (!in.read_word(last) || !read_value(in, sin_amplitude[e]) || !read_value(in, sin_period[e]) ||
            !read_value(in, sin_shift[e]))
            fail(in, "ERROR: Reading (Voltage,Period,Time Shift) data from Sin Voltage section of Vdata.txt");
        rows[e] = place_of(in);
        check_voltage(in, sin_amplitude[e], "Sin Voltage amplitude of electrode " + std::to_string(e));
    }
    // A zero period is harmless only for a wave of zero amplitude.
    for (int e = 1; e <= n_electrodes; ++e) {
        if (sin_period[e] != 0.0) continue;
        if (sin_amplitude[e] != 0.0) fail_at(rows[e], "ERROR: Period in Sin Voltage must not be zero");
        sin_period[e] = 1.0;
    }
    // With no decay time the exponential has no meaning (0/0 or a silent 0).
    if (sin_tau == 0.0) fail_at(window, "ERROR: Decay time in Sin Voltage must not be zero");
    // A negative or tiny decay time makes the wave grow, and a tiny period
    // makes its phase overflow: refused here rather than found as NaN later.
    for (int e = 1; e <= n_electrodes; ++e)
        check_wave(rows[e], electrodes::largest_sine_term(e), "Sin Voltage of electrode " + std::to_string(e));
    last.resize(std::min(last.size(), HEADING_WIDTH));
    return last;
}

void read_meander_section(fortran::ListReader& in) {
    in.skip_lines(1);
    in.begin_record();
    if (!in.read_integer(meander_flag))
        fail(in, "ERROR: Reading flag from line just bellow Meander Voltage from Vdata.txt file");
    in.begin_record();
    if (!read_value(in, meander_t_start) || !read_value(in, meander_t_end) || !read_value(in, meander_tau))
        fail(in, "ERROR: Reading meander interval from Meander Voltage from Vdata.txt file");
    const Place window = place_of(in);
    in.skip_lines(2);
    if (meander_flag == 0) return;

    std::string label;
    Place rows[MAX_ELECTRODES + 1];
    for (int e = 1; e <= n_electrodes; ++e) {
        in.begin_record();
        if (!in.read_word(label) || !read_value(in, Vlow[e]) || !read_value(in, Vhigh[e]) ||
            !read_value(in, Ti[e]) || !read_value(in, dutyfactor[e]))
            fail(in,
                 "ERROR: Reading (elec#,Vlowi,Vhighi,Ti,sec,dutyfactor={0,1}) data from Meander Voltage section of "
                 "Vdata.txt");
        rows[e] = place_of(in);
        check_voltage(in, Vlow[e], "Meander Voltage first level of electrode " + std::to_string(e));
        check_voltage(in, Vhigh[e], "Meander Voltage second level of electrode " + std::to_string(e));
    }
    // As for the sine: a zero period only where both levels agree, so the
    // phase does not matter; anything else would switch levels on NaN.
    for (int e = 1; e <= n_electrodes; ++e) {
        if (Ti[e] != 0.0) continue;
        if (Vlow[e] != Vhigh[e]) fail_at(rows[e], "ERROR: Period in Meander Voltage must not be zero");
        Ti[e] = 1.0;
    }
    if (meander_tau == 0.0) fail_at(window, "ERROR: Decay time in Meander Voltage must not be zero");
    for (int e = 1; e <= n_electrodes; ++e)
        check_wave(rows[e], electrodes::largest_meander_term(e),
                   "Meander Voltage of electrode " + std::to_string(e));
}

void scan_sections(fortran::ListReader& in) {
    for (;;) {
        if (!in.read_line()) return;
        std::string line = in.line;
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
    // Files saved by other editors: refused by name rather than as a short table.
    const std::string form = fortran::unreadable_text_form(file.f);
    if (!form.empty())
        pdp::fatal({"ERROR: Vdata.txt " + form,
                    "       save it as plain text (ASCII or UTF-8) with LF or CR LF line ends"});
    fortran::ListReader in(file.f);

    const long long rows = count_table_rows(in);
    if (rows < 2)
        fail(in, "ERROR: NDATAVMIN > NDATAVMAX, Applied Voltage section in Vdata.txt must contain at least 2 lines");

    if (std::fseek(file.f, 0, SEEK_SET) != 0) pdp::fatal("ERROR: rewind of Vdata.txt file failed");
    in = fortran::ListReader(file.f);
    in.begin_record();
    if (!in.read_integer(n_electrodes))
        fail(in, "ERROR: Reading first line (number of electrods) from Vdata.txt file");

    const int geometry_electrodes = geometry::highest_electrode();
    if (geometry_electrodes != n_electrodes)
        fail(in, "ERROR: number of electrodes from [GEOMETRY] section of Input_File.txt - " +
                     fortran::free_integer(geometry_electrodes) +
                     " does not agree with the number of electrodes from Vdata.txt - " +
                     fortran::free_integer(n_electrodes));
    // The per-electrode arrays have room for MAX_ELECTRODES.
    if (n_electrodes < 0 || n_electrodes > MAX_ELECTRODES)
        fail(in, "ERROR: Vdata.txt gives " + fortran::free_integer(n_electrodes) +
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
