#include "driver/checkpoint.hpp"

#include "common/checksum.hpp"
#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/list_reader.hpp"
#include "driver/main_program.hpp"
#include "input/cell_file.hpp"
#include "input/voltage_file.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"
#include "electrons/hybrid_electrons.hpp"
#include "output/vuv_report.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"
#include "radiation/xe_kinetics.hpp"

#include <algorithm>
#include <cinttypes>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace checkpoint {

namespace {

using fortran::FreeLine;
using fortran::write_line;
using PARTICLE_STORAGE::Particle;
using PARTICLE_STORAGE::Store;

// The input file is the one the start-up reads, whatever the letter case
// under which older runs named it.
const char* const INPUT_FILE = "input_file.txt";
const char* const VOLTAGE_FILE = "Vdata.txt";

// Each line of the copied input files is cut or blank-padded to this width.
constexpr std::size_t COPY_WIDTH = 120;

// What a restart accepts. Each bound lies far above anything a run of a
// display cell reaches and far below where the arithmetic of the next steps
// would overflow; a value beyond it cannot have been written by a run.
//
// Potentials: ten times the largest voltage the voltage file accepts; the
// charges a discharge gathers cancel the applied voltage, they do not
// multiply it.
constexpr double POTENTIAL_LIMIT = 10.0 * voltage_file::VOLTAGE_LIMIT;  // V
// Charge densities: a gas fully ionized at the panel's pressure holds a few
// C/cm^3; merged particles (up to WEIGHT_LIMIT each, below) put at most about
// 1.6e3 C/cm^3 each on one mesh cell, and this allows hundreds of them there.
constexpr double DENSITY_LIMIT = 1.0e6;  // C/cm^3
// Fields: what the potentials above and a wall charge of DENSITY_LIMIT give
// across one mesh spacing, rounded up.
constexpr double FIELD_LIMIT = 1.0e16;  // V/cm
// The charge source: a node sums at most ten such charge densities.
constexpr double SOURCE_LIMIT = 10.0 * DENSITY_LIMIT * mesh::dx * mesh::dy * mesh::dz * mesh::INV_EPS0;  // V·cm
// Particles: a record carries one elementary charge, or, once records are
// merged, k of them for k up to the number of real particles in a cell,
// which no discharge brings near 1e12. The lower end allows for rounding.
constexpr double WEIGHT_MIN = mesh::ELECTRON_CHARGE * (1.0 - 1e-6);  // C
constexpr double WEIGHT_LIMIT = mesh::ELECTRON_CHARGE * 1e12;        // C
constexpr double SPEED_OF_LIGHT = 2.99792458e10;                     // cm/s

// Arrays of records 1 and 3..11, in file order, first index fastest, with
// the size their values may have and what that size is called.
struct ArrayRecord {
    int number;
    const char* name;
    double* values;
    long count;
    double limit;
    const char* quantity;
};

const ArrayRecord ARRAY_RECORDS[] = {
    {1, "charge_source", mesh::charge_source, mesh::NODE_COUNT, SOURCE_LIMIT, "V.cm"},
    {3, "ion_density", mesh::ion_density, 2L * mesh::NODE_COUNT, DENSITY_LIMIT, "C/cm^3"},
    {4, "electron_density", mesh::electron_density, mesh::NODE_COUNT, DENSITY_LIMIT, "C/cm^3"},
    {5, "wall_charge_x", mesh::wall_charge_x, mesh::PADDED_COUNT, DENSITY_LIMIT, "C/cm^3"},
    {6, "wall_charge_z", mesh::wall_charge_z, mesh::PADDED_COUNT, DENSITY_LIMIT, "C/cm^3"},
    {7, "phi", mesh::phi, mesh::NODE_COUNT, POTENTIAL_LIMIT, "V"},
    {8, "phi_old", mesh::phi_old, mesh::NODE_COUNT, POTENTIAL_LIMIT, "V"},
    {9, "ex", mesh::ex, mesh::NODE_COUNT, FIELD_LIMIT, "V/cm"},
    {10, "ey", mesh::ey, mesh::NODE_COUNT, FIELD_LIMIT, "V/cm"},
    {11, "ez", mesh::ez, mesh::NODE_COUNT, FIELD_LIMIT, "V/cm"},
};

// The last line of a checkpoint: the CRC-32 of every byte before it, as 8
// hexadecimal digits after this text.
const char* const INTEGRITY_PREFIX = " CRC-32 of the bytes above: ";
// A run with a cell file records it after the copies of the input files, so
// that a run without one writes the same bytes as before it existed; the
// line carries the CRC-32 of the file, which a restart compares.
const char* const CELL_PREFIX = " cell file cell.toml, CRC-32 ";
// A --vuv run appends the VUV states after that, before the integrity
// record: the marker with the count of values, then "index value" for each
// value that is not 0, in hexadecimal floating point (the same bits back),
// then the end marker.
const char* const VUV_MARKER = " VUV STATES";
const char* const VUV_END = " VUV END";
// A --fluid-electrons run appends the fluid's state the same way.
const char* const FLUID_MARKER = " FLUID ELECTRONS";
const char* const FLUID_END = " FLUID END";

std::string cell_crc_text(const cell_file::Cell& cell) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08" PRIX32,
                  checksum::crc32(reinterpret_cast<const unsigned char*>(cell.text.data()), cell.text.size(), 0));
    return hex;
}

// A bound as a message gives it: 1.0E+06.
std::string bound_text(double v) {
    const std::string text = fortran::ES(v, 12, 1);
    return text.substr(text.find_first_not_of(' '));
}

const char* const FIELD_NAMES[9] = {"w", "t", "x", "y", "z", "vx", "vy", "vz", "species"};

// ---------------------------------------------------------------- writing

void write_empty_record(std::FILE* out) { write_line(out, " "); }

// The count, then every slot 1..count, dead ones (w = 0) included.
void write_store(std::FILE* out, Store& store) {
    write_line(out, FreeLine().item(store.count).str());
    PARTICLE_STORAGE::rewind(store);
    Particle p{};
    while (PARTICLE_STORAGE::get_current(store, p)) {
        write_line(out, FreeLine()
                            .item(p.w).item(p.t)
                            .item(p.x).item(p.y).item(p.z)
                            .item(p.vx).item(p.vy).item(p.vz)
                            .item(p.species)
                            .str());
        PARTICLE_STORAGE::advance(store);
    }
}

// A parallel run's particles draw from streams keyed by the run's seeds and
// their identities; after the generator state come the marker with the key,
// then per store its count and each slot's identity and draws taken.
const char* const STREAMS_MARKER = "PARALLEL STREAMS";

void write_streams(std::FILE* out) {
    const particle_streams::Key& key = parallel_mode::settings.key;
    write_line(out, FreeLine()
                        .item(STREAMS_MARKER)
                        .item(static_cast<long long>(key.seed1))
                        .item(static_cast<long long>(key.seed2))
                        .str());
    for (const Store* s : {&PARTICLE_STORAGE::electrons, &PARTICLE_STORAGE::ions}) {
        write_line(out, FreeLine().item(s->count).str());
        for (int slot = 1; slot <= s->count; ++slot)
            write_line(out, " " + std::to_string(s->id[slot]) + " " + std::to_string(s->draws[slot]));
    }
}

// A run of another model than the default one saves it after the generator
// state: " RUN MODEL" and pairs of name and value, the slots of capped stores
// last, since a store that grew must come back with the same room for the
// merging to go on as it would have.
const char* const MODEL_MARKER = "RUN MODEL";

RunModel run_model;

void write_model(std::FILE* out) {
    const RunModel& m = run_model;
    std::string line = std::string(" ") + MODEL_MARKER;
    auto pair = [&line](const char* name, long long value) { line += std::string(" ") + name + " " + std::to_string(value); };
    pair("parallel", m.parallel);
    pair("plasma-field", m.plasma_field);
    pair("seed-at-cathode", m.seed_at_cathode);
    pair("second-order-flights", m.second_order_flights);
    if (m.drift_diffusion) pair("drift-diffusion", 1);
    if (m.vuv) pair("vuv", 1);
    if (m.fluid_electrons) pair("fluid-electrons", 1);
    pair("max-ions", m.max_ions);
    pair("max-electrons", m.max_electrons);
    pair("seed1", m.seed1);
    pair("seed2", m.seed2);
    pair("ion-slots", m.max_ions > 0 ? PARTICLE_STORAGE::ions.capacity : 0);
    pair("electron-slots", m.max_electrons > 0 ? PARTICLE_STORAGE::electrons.capacity : 0);
    write_line(out, line);
}

// The model line as write_model writes it; false for anything else.
bool parse_model(const std::string& line, RunModel& m, int& ion_slots, int& electron_slots) {
    std::istringstream in(line);
    std::string run, model;
    in >> run >> model;
    if (run + " " + model != MODEL_MARKER) return false;
    // Files written before the drift-diffusion steps lack their pair; the
    // vuv pair is written only when on.
    const char* const names[] = {"parallel", "plasma-field", "seed-at-cathode", "second-order-flights", "drift-diffusion",
                                 "vuv", "fluid-electrons", "max-ions", "max-electrons", "seed1", "seed2", "ion-slots",
                                 "electron-slots"};
    constexpr int FIRST_OPTIONAL = 4, LAST_OPTIONAL = 6, NAMES = 13;
    long long values[NAMES] = {};
    std::string name;
    long long value = 0;
    bool have_pair = static_cast<bool>(in >> name >> value);
    for (int k = 0; k < NAMES; ++k) {
        if (k >= FIRST_OPTIONAL && k <= LAST_OPTIONAL && (!have_pair || name != names[k])) continue;
        if (!have_pair || name != names[k] || value < 0 || value > 2147483647) return false;
        values[k] = value;
        have_pair = static_cast<bool>(in >> name >> value);
    }
    if (have_pair || !in.eof()) return false;
    for (int k = 0; k <= LAST_OPTIONAL; ++k)
        if (values[k] > 1) return false;
    m.parallel = values[0] == 1;
    m.plasma_field = values[1] == 1;
    m.seed_at_cathode = values[2] == 1;
    m.second_order_flights = values[3] == 1;
    m.drift_diffusion = values[4] == 1;
    m.vuv = values[5] == 1;
    m.fluid_electrons = values[6] == 1;
    m.max_ions = static_cast<int>(values[7]);
    m.max_electrons = static_cast<int>(values[8]);
    m.seed1 = static_cast<std::int32_t>(values[9]);
    m.seed2 = static_cast<std::int32_t>(values[10]);
    ion_slots = static_cast<int>(values[11]);
    electron_slots = static_cast<int>(values[12]);
    return true;
}

bool same_model(const RunModel& a, const RunModel& b) {
    return a.parallel == b.parallel && a.plasma_field == b.plasma_field && a.seed_at_cathode == b.seed_at_cathode &&
           a.second_order_flights == b.second_order_flights && a.drift_diffusion == b.drift_diffusion && a.vuv == b.vuv &&
           a.fluid_electrons == b.fluid_electrons &&
           a.max_ions == b.max_ions && a.max_electrons == b.max_electrons && a.seed1 == b.seed1 &&
           a.seed2 == b.seed2;
}

// A missing file copies nothing; it is not created.
void copy_text_file(std::FILE* out, const char* name) {
    std::FILE* in = std::fopen(name, "r");
    if (in == nullptr) return;
    std::string line;
    while (fortran::read_text_line(in, line)) {
        line.resize(COPY_WIDTH, ' ');
        write_line(out, line);
    }
    std::fclose(in);
}

void write_sparse_record(std::FILE* out, const char* marker, const char* end, const std::vector<double>& values) {
    std::fprintf(out, "%s %zu\n", marker, values.size());
    for (std::size_t k = 0; k < values.size(); ++k)
        if (values[k] != 0.0) std::fprintf(out, " %zu %a\n", k, values[k]);
    write_line(out, end);
}

void write_vuv_record(std::FILE* out) {
    std::vector<double> values(static_cast<std::size_t>(vuv_report::saved_count()));
    vuv_report::save(values.data());
    write_sparse_record(out, VUV_MARKER, VUV_END, values);
}

void write_fluid_record(std::FILE* out) {
    std::vector<double> values(static_cast<std::size_t>(hybrid_electrons::saved_count()));
    hybrid_electrons::save(values.data());
    write_sparse_record(out, FLUID_MARKER, FLUID_END, values);
}

void write_records(std::FILE* out, double t, int nstep, double dt) {
    for (const ArrayRecord& a : ARRAY_RECORDS) {
        fortran::write_free_record(out, a.values, a.count);
        if (a.number == 1) write_empty_record(out);  // record 2
    }
    write_line(out, FreeLine().item(t).str());
    write_line(out, FreeLine().item(dt).str());
    write_line(out, FreeLine().item(nstep).str());
    write_empty_record(out);
    write_store(out, PARTICLE_STORAGE::electrons);
    write_store(out, PARTICLE_STORAGE::ions);

    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    write_line(out, FreeLine().item(s1).item(s2).str());
    if (!is_default(run_model)) write_model(out);
    if (parallel_mode::on()) write_streams(out);

    // For the record only; a restart stops reading after the generator state.
    write_empty_record(out);
    write_line(out, FreeLine().item(t).str());
    write_line(out, FreeLine().item(t).str());
    write_line(out, FreeLine().item("                            Input_Files.txt").str());
    write_empty_record(out);
    copy_text_file(out, INPUT_FILE);
    write_empty_record(out);
    write_line(out, FreeLine().item(std::string(58, '*')).str());
    write_line(out, FreeLine().item("                            Vdata.txt").str());
    write_empty_record(out);
    copy_text_file(out, VOLTAGE_FILE);
    const cell_file::Cell& cell = cell_file::current();
    if (cell.given) {
        write_empty_record(out);
        write_line(out, FreeLine().item(std::string(58, '*')).str());
        write_line(out, CELL_PREFIX + cell_crc_text(cell));
        std::fputs(cell.text.c_str(), out);
        if (!cell.text.empty() && cell.text.back() != '\n') write_line(out, "");
    }
    if (xe_kinetics::on()) write_vuv_record(out);
    if (hybrid_electrons::on()) write_fluid_record(out);
}

// A temporary file that was created is removed, so a full disk is not left fuller.
[[noreturn]] void write_failed(const std::string& problem, int error, bool created = true) {
    if (created) std::remove(TEMPORARY_FILE);
    pdp::fatal({"ERROR: writing the checkpoint file restart failed: " + problem + ": " +
                    std::strerror(error),
                "       the previous checkpoint, if any, is kept"});
}

// The integrity record goes last, after the copies of the input files: a
// restart stops reading at the generator state, so readers that know nothing
// of it are not disturbed, and it covers everything a restart reads. Its CRC
// is taken from the file as it lies on disk so far.
void write_integrity_record(std::FILE* out) {
    // A write that failed on the way (a full disk) leaves the error flag set,
    // and the flush tries the buffered rest again, which gives the reason.
    errno = 0;
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
        const int error = errno != 0 ? errno : EIO;
        std::fclose(out);
        write_failed(std::string("can't write ") + TEMPORARY_FILE, error);
    }
    std::FILE* in = std::fopen(TEMPORARY_FILE, "rb");
    if (in == nullptr) write_failed(std::string("can't read back ") + TEMPORARY_FILE, errno);
    std::uint32_t crc = 0;
    unsigned char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) crc = checksum::crc32(buffer, n, crc);
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) write_failed(std::string("can't read back ") + TEMPORARY_FILE, EIO);
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08" PRIX32, crc);
    write_line(out, std::string(INTEGRITY_PREFIX) + hex);
}

// The new checkpoint replaces the old one only once it is complete on disk.
void write_checkpoint(double t, int nstep, double dt) {
    std::FILE* out = std::fopen(TEMPORARY_FILE, "w");
    if (out == nullptr) write_failed(std::string("can't open ") + TEMPORARY_FILE, errno, false);

    write_records(out, t, nstep, dt);
    write_integrity_record(out);

    // A write that failed on the way (a full disk) leaves the error flag set,
    // and the flush tries the buffered rest again, which gives the reason.
    errno = 0;
    int error = 0;
    if (std::fflush(out) != 0 || std::ferror(out) != 0) error = errno != 0 ? errno : EIO;
    // EINVAL: a file system without synchronisation, nothing to wait for.
    if (error == 0 && fsync(fileno(out)) != 0 && errno != EINVAL) error = errno;
    if (std::fclose(out) != 0 && error == 0) error = errno != 0 ? errno : EIO;
    if (error != 0) write_failed(std::string("can't write ") + TEMPORARY_FILE, error);

    if (std::rename(TEMPORARY_FILE, RESTART_FILE) != 0)
        write_failed(std::string("can't rename ") + TEMPORARY_FILE + " to restart", errno);
}

// ---------------------------------------------------------------- reading

// Reads "restart" value by value. Every failure is fatal and names the
// record and the value that was being read.
struct RestartReader {
    fortran::ListReader list;
    int record = 0;
    const char* label = "";   // what the record holds
    const char* item = "";    // kind of its items, "" for a single value
    long index = 0, count = 0;
    const char* field = nullptr;

    explicit RestartReader(std::FILE* in) : list(in) {}
    ~RestartReader() { std::fclose(list.in); }
    RestartReader(const RestartReader&) = delete;
    RestartReader& operator=(const RestartReader&) = delete;

    void begin(int number, const char* what, const char* item_kind = "", long items = 0) {
        record = number;
        label = what;
        item = item_kind;
        count = items;
        index = 0;
        field = nullptr;
        list.begin_record();
    }

    [[noreturn]] void fail(const std::string& problem) const {
        fail_where(problem + ", line " + std::to_string(list.line_number));
    }

    [[noreturn]] void fail_where(const std::string& problem) const {
        std::string where = "record " + std::to_string(record) + " (" + label;
        if (count > 0)
            where += std::string(": ") + item + " " + std::to_string(index) + " of " + std::to_string(count);
        if (field != nullptr) where += std::string(", field ") + field;
        where += ")";
        pdp::fatal("ERROR: reading file restart, " + where + ": " + problem);
    }

    [[noreturn]] void file_ends() const {
        fail_where("the file ends after " + std::to_string(list.line_number) + " lines");
    }

    std::string token() {
        std::string text;
        if (!list.next_token(text)) file_ends();
        return text;
    }

    double real() {
        const std::string text = token();
        double value = 0.0;
        // The form this file is written in converts directly (and exactly);
        // anything else goes through the full free-format rules.
        const char* last = text.data() + text.size();
        const auto [end, error] = std::from_chars(text.data(), last, value);
        if (error == std::errc() && end == last) return value;
        if (!fortran::parse_real(text, value)) fail("'" + text + "' is not a number");
        return value;
    }

    // A real that must be finite and at most `limit` in size.
    double bounded_real(double limit, const char* unit) {
        const double v = real();
        if (!std::isfinite(v)) fail(fortran::free_real(v) + " is not a finite value");
        if (std::fabs(v) > limit)
            fail(fortran::free_real(v) + " " + unit + " is beyond what any cell can have (" + bound_text(limit) +
                 " " + unit + ")");
        return v;
    }

    int integer() {
        const std::string text = token();
        int value = 0;
        if (!fortran::parse_integer(text, value)) fail("'" + text + "' is not an integer");
        return value;
    }

    // An empty record holds nothing; values there mean the records before it
    // were cut short or overlong, so the file is not what was written.
    void empty_record(int number) {
        begin(number, "empty record");
        std::string text;
        if (!fortran::read_text_line(list.in, text)) file_ends();
        ++list.line_number;
        if (text.find_first_not_of(" \t") != std::string::npos)
            fail("values where none belong; the file is damaged");
    }
};

void read_array(RestartReader& in, const ArrayRecord& a) {
    in.begin(a.number, a.name, "value", a.count);
    for (long m = 0; m < a.count; ++m) {
        in.index = m + 1;
        a.values[m] = in.bounded_real(a.limit, a.quantity);
    }
}

// Marks every slot dead and squeezes them all out.
void empty_store(Store& store) {
    PARTICLE_STORAGE::rewind(store);
    Particle p{};
    while (PARTICLE_STORAGE::get_current(store, p)) {
        if (store.count > 0) PARTICLE_STORAGE::delete_current(store);
        PARTICLE_STORAGE::advance(store);
    }
    PARTICLE_STORAGE::compact(store);
    PARTICLE_STORAGE::rewind(store);
}

bool valid_species(const Store& store, int species) {
    if (&store == &PARTICLE_STORAGE::ions) return species == 1 || species == 2;
    return species >= 0 && species <= 2;  // origin code of an electron
}

// A live particle as a run leaves it between steps: charge of its kind's sign
// and of a size one record can carry, inside the gas box (its faces
// included), slower than light, and its clock within a step of the run's
// time span [0, t], since every step takes every particle to the step's end.
void check_live_particle(RestartReader& in, const double (&f)[8], bool is_ion, double t) {
    const double w = f[0];
    in.field = FIELD_NAMES[0];
    if ((w > 0.0) != is_ion)
        in.fail(fortran::free_real(w) + " C has the wrong sign for " + (is_ion ? "an ion" : "an electron"));
    if (std::fabs(w) < WEIGHT_MIN || std::fabs(w) > WEIGHT_LIMIT)
        in.fail(fortran::free_real(w) + " C is not the charge of a particle record (1 to 1E+12 elementary charges)");
    in.field = FIELD_NAMES[1];
    if (f[1] < -driver::TIME_STEP || f[1] > t + driver::TIME_STEP)
        in.fail(fortran::free_real(f[1]) + " s is not a particle time of a run at t = " + fortran::free_real(t) + " s");
    const double low[3] = {mesh::xlow, mesh::ylow, mesh::zlow};
    const double high[3] = {mesh::xhigh, mesh::yhigh, mesh::zhigh};
    for (int a = 0; a < 3; ++a) {
        in.field = FIELD_NAMES[2 + a];
        if (!(low[a] <= f[2 + a] && f[2 + a] <= high[a]))
            in.fail(fortran::free_real(f[2 + a]) + " cm lies outside the gas box (" + fortran::free_real(low[a]) +
                    " to " + fortran::free_real(high[a]) + " cm)");
    }
    in.field = "vx, vy, vz";
    // Each component first, so that the squares cannot overflow.
    const double c2 = SPEED_OF_LIGHT * SPEED_OF_LIGHT;
    if (!(std::fabs(f[5]) < SPEED_OF_LIGHT && std::fabs(f[6]) < SPEED_OF_LIGHT && std::fabs(f[7]) < SPEED_OF_LIGHT &&
          f[5] * f[5] + f[6] * f[6] + f[7] * f[7] < c2))
        in.fail("(" + fortran::free_real(f[5]) + ", " + fortran::free_real(f[6]) + ", " + fortran::free_real(f[7]) +
                ") cm/s is not slower than light");
    in.field = nullptr;
}

// Rebuilds a store from its count record and one record per slot.
void read_store(RestartReader& in, Store& store, int count_record, const char* name, double t) {
    empty_store(store);
    const bool is_ion = &store == &PARTICLE_STORAGE::ions;

    in.begin(count_record, is_ion ? "ion count" : "electron count");
    const int n = in.integer();
    // A capped store may have grown in the saved run; the model line after
    // the stores gives it back its exact room.
    if (n > store.capacity - 1 && store.make_room != nullptr && n < 2147483647 - 1)
        PARTICLE_STORAGE::set_capacity(store, n + 1);
    const int room = store.capacity - 1;  // the last slot is never used
    if (n < 0 || n > room)
        in.fail(std::to_string(n) + " records do not fit the " + name + ", which holds at most " +
                std::to_string(room));

    for (int slot = 1; slot <= n; ++slot) {
        in.begin(count_record + 1, name, "slot", n);
        in.index = slot;
        double f[8];
        for (int m = 0; m < 8; ++m) {
            in.field = FIELD_NAMES[m];
            f[m] = in.real();
            if (!std::isfinite(f[m])) in.fail(fortran::free_real(f[m]) + " is not a finite value");
        }
        in.field = FIELD_NAMES[8];
        const int species = in.integer();
        if (!valid_species(store, species))
            in.fail(std::to_string(species) + (is_ion ? " is not an ion species (1 Ne+, 2 Xe+)"
                                                      : " is not an electron origin code (0, 1, 2)"));
        if (f[0] != 0.0) check_live_particle(in, f, is_ion, t);
        PARTICLE_STORAGE::add_particle(store, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], species);
        // A dead slot (w = 0) keeps its place but stays dead: the movers rely
        // on compaction, not on w, to pass over dead slots.
        if (f[0] == 0.0) {
            store.cursor = store.count;
            PARTICLE_STORAGE::delete_current(store);
        }
    }
    PARTICLE_STORAGE::rewind(store);
}

// An unsigned 64-bit integer written in decimal.
std::uint64_t unsigned_value(RestartReader& in) {
    const std::string text = in.token();
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        in.fail("'" + text + "' is not an unsigned 64-bit integer");
    return value;
}

// The streams of a parallel run, after its marker line (already read): the
// key the particles draw under, then every slot's identity and draws, for
// stores that read_store has just rebuilt.
void read_streams(RestartReader& in) {
    std::istringstream marker(in.list.line);
    std::string word1, word2;
    long long seed1 = -1, seed2 = -1;
    marker >> word1 >> word2 >> seed1 >> seed2;
    in.begin(21, "parallel streams marker");
    if (!marker || seed1 < 0 || seed1 > 2147483647 || seed2 < 0 || seed2 > 2147483647)
        in.fail_where("the key after " + std::string(STREAMS_MARKER) + " is not two seeds");
    parallel_mode::settings.key = particle_streams::key_for_seeds(static_cast<std::int32_t>(seed1),
                                                                  static_cast<std::int32_t>(seed2));
    int record = 22;
    for (Store* s : {&PARTICLE_STORAGE::electrons, &PARTICLE_STORAGE::ions}) {
        const bool is_ion = s == &PARTICLE_STORAGE::ions;
        in.begin(record, is_ion ? "ion identities count" : "electron identities count");
        const int n = in.integer();
        if (n != s->count)
            in.fail(std::to_string(n) + " identities for the " + std::to_string(s->count) + " slots of the " +
                    (is_ion ? "ion store" : "electron store"));
        for (int slot = 1; slot <= n; ++slot) {
            in.begin(record + 1, is_ion ? "ion identities" : "electron identities", "slot", n);
            in.index = slot;
            in.field = "identity";
            s->id[slot] = unsigned_value(in);
            in.field = "draws";
            s->draws[slot] = unsigned_value(in);
        }
        record += 2;
    }
    in.field = nullptr;
    // The copies of the input files follow, as after any checkpoint.
    if (!in.list.read_line())
        in.fail_where("the file ends right after it: it was cut short, maybe inside the last number");
}

// The file against its integrity record, before anything in it is used. A
// file without one (written before the record existed, or cut short before
// it) is read with a warning; its values are still checked one by one.
void check_integrity(std::FILE* file) {
    const std::string prefix = INTEGRITY_PREFIX;
    std::uint32_t crc = 0;             // of every byte read so far
    std::uint32_t crc_line_start = 0;  // of the bytes before the current line
    std::uint32_t crc_last_line = 0;   // of the bytes before the last whole line
    std::string line, last_line;       // their starts, enough to recognize the record
    const std::size_t keep = prefix.size() + 16;
    unsigned char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        std::size_t from = 0;
        while (from < n) {
            const void* feed = std::memchr(buffer + from, '\n', n - from);
            const std::size_t end = feed != nullptr ? static_cast<const unsigned char*>(feed) - buffer : n;
            if (line.size() < keep) line.append(reinterpret_cast<const char*>(buffer + from),
                                                std::min(end - from, keep - line.size()));
            if (feed == nullptr) {
                crc = checksum::crc32(buffer + from, n - from, crc);
                break;
            }
            crc = checksum::crc32(buffer + from, end + 1 - from, crc);
            from = end + 1;
            crc_last_line = crc_line_start;
            crc_line_start = crc;
            last_line.swap(line);
            line.clear();
        }
    }
    if (std::ferror(file) != 0) pdp::fatal("ERROR: reading file restart failed");
    std::clearerr(file);
    std::fseek(file, 0, SEEK_SET);

    const bool ends_in_line = line.empty();  // every line the program writes ends in a line feed
    const std::string& record = ends_in_line ? last_line : line;
    if (record.compare(0, 7, prefix.substr(0, 7)) != 0) {
        std::printf("%s\n", "WARNING: file restart has no integrity record (written by an older version, or cut "
                            "short): its integrity cannot be checked");
        return;
    }
    const std::string digits = record.size() > prefix.size() ? record.substr(prefix.size()) : "";
    std::uint32_t stored = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), stored, 16);
    if (!ends_in_line || record.compare(0, prefix.size(), prefix) != 0 || digits.size() != 8 ||
        error != std::errc() || end != digits.data() + digits.size())
        pdp::fatal("ERROR: reading file restart, integrity record (last line): it is damaged or cut short");
    if (stored != crc_last_line) {
        char computed[9];
        std::snprintf(computed, sizeof computed, "%08" PRIX32, crc_last_line);
        pdp::fatal("ERROR: reading file restart, integrity record (last line): the CRC-32 of the file is " +
                   std::string(computed) + ", not " + digits + " as written; the file is damaged");
    }
}

// The run continues a checkpoint only with the cell it was written with: the
// same cell file, byte for byte, or none on both sides.
// A sparse record (the VUV states, the fluid), from the line after its
// marker to its end marker.
std::vector<double> read_sparse_record(RestartReader& in, const char* marker, const char* end_marker,
                                       std::size_t count, const std::string& what) {
    if (std::strtoull(in.list.line.c_str() + std::strlen(marker), nullptr, 10) != count)
        pdp::fatal("ERROR: reading file restart, " + what + ": their count is not this build's " + std::to_string(count));
    std::vector<double> values(count, 0.0);
    while (in.list.read_line() && in.list.line != end_marker) {
        char* end = nullptr;
        const unsigned long long k = std::strtoull(in.list.line.c_str(), &end, 10);
        const double v = std::strtod(end, &end);
        if (k >= count || *end != '\0' || !std::isfinite(v))
            pdp::fatal("ERROR: reading file restart, " + what + ": the line \"" + in.list.line + "\" is damaged");
        values[k] = v;
    }
    if (in.list.line != end_marker) pdp::fatal("ERROR: reading file restart, " + what + ": the record is cut short");
    return values;
}

void read_vuv_record(RestartReader& in) {
    const std::vector<double> values = read_sparse_record(
        in, VUV_MARKER, VUV_END, static_cast<std::size_t>(vuv_report::saved_count()), "VUV states");
    vuv_report::load(values.data());
}

void read_fluid_record(RestartReader& in) {
    const std::vector<double> values = read_sparse_record(
        in, FLUID_MARKER, FLUID_END, static_cast<std::size_t>(hybrid_electrons::saved_count()), "fluid electrons");
    hybrid_electrons::load(values.data());
}

void check_saved_cell(RestartReader& in) {
    std::string saved;  // the CRC the checkpoint records, empty: no cell file
    bool vuv_states = false, fluid_state = false;
    while (in.list.read_line()) {
        if (in.list.line.rfind(CELL_PREFIX, 0) == 0) saved = in.list.line.substr(std::strlen(CELL_PREFIX), 8);
        if (in.list.line.rfind(VUV_MARKER, 0) == 0 && xe_kinetics::on()) {
            read_vuv_record(in);
            vuv_states = true;
        }
        if (in.list.line.rfind(FLUID_MARKER, 0) == 0 && hybrid_electrons::on()) {
            read_fluid_record(in);
            fluid_state = true;
        }
    }
    if (xe_kinetics::on() && !vuv_states)
        pdp::fatal({"ERROR: file restart holds no VUV states, though it was written with --vuv",
                    "       it is damaged; start a new run (restart flag 0)"});
    if (hybrid_electrons::on() && !fluid_state)
        pdp::fatal({"ERROR: file restart holds no fluid electrons, though it was written with --fluid-electrons",
                    "       it is damaged; start a new run (restart flag 0)"});
    const cell_file::Cell& cell = cell_file::current();
    const std::string now = cell.given ? cell_crc_text(cell) : "";
    if (saved == now) return;
    if (saved.empty())
        pdp::fatal({"ERROR: file restart was written by a run without a cell file, but this case has cell.toml",
                    "       move cell.toml away to continue that run, or start a new run (restart flag 0)"});
    if (now.empty())
        pdp::fatal({"ERROR: file restart was written by a run with a cell file (cell.toml), but this case has none",
                    "       put back the cell.toml that file restart holds a copy of, or start a new run (restart flag 0)"});
    pdp::fatal({"ERROR: cell.toml differs from the cell file that file restart was written with (CRC-32 " + saved +
                    ", now " + now + ")",
                "       put back the cell.toml that file restart holds a copy of, or start a new run (restart flag 0)"});
}

void read_checkpoint(double& t, int& nstep, double& dt) {
    std::FILE* file = std::fopen(RESTART_FILE, "r");
    if (file == nullptr) pdp::fatal("ERROR: Can't open file: restart");
    RestartReader in(file);  // closes the file, also when a read fails
    const std::string form = fortran::unreadable_text_form(file);
    if (!form.empty()) pdp::fatal("ERROR: reading file restart: the file " + form + "; it is not a checkpoint");
    check_integrity(file);

    for (const ArrayRecord& a : ARRAY_RECORDS) {
        read_array(in, a);
        if (a.number == 1) in.empty_record(2);
    }
    in.begin(12, "t");
    t = in.real();
    // A run starts at t = 0; a negative time would move every particle back
    // through the whole run's span in its first step.
    if (!std::isfinite(t) || t < 0.0) in.fail(fortran::free_real(t) + " is not a time");
    in.begin(13, "dt");
    dt = in.real();
    if (!std::isfinite(dt)) in.fail(fortran::free_real(dt) + " is not a finite value");
    in.begin(14, "nstep");
    nstep = in.integer();
    // Checkpoints are taken only at steps the loop reaches; a larger count
    // would also overflow when the loop advances it.
    if (nstep < 1 || nstep > driver::MAX_STEP)
        in.fail(std::to_string(nstep) + " is not a step of the run (1 to " + std::to_string(driver::MAX_STEP) + ")");
    in.empty_record(15);

    read_store(in, PARTICLE_STORAGE::electrons, 16, "electron store", t);
    read_store(in, PARTICLE_STORAGE::ions, 18, "ion store", t);

    // Negative components would make the generator leave (0, 1).
    in.begin(20, "generator state");
    const int s1 = in.integer();
    const int s2 = in.integer();
    if (s1 < 0 || s2 < 0)
        in.fail("(" + std::to_string(s1) + ", " + std::to_string(s2) + ") is not a generator state");
    // Every checkpoint goes on after the generator state with the copies of
    // the input files; a file that ends here was cut, maybe inside the last
    // number.
    if (!in.list.read_line())
        in.fail_where("the file ends right after it: it was cut short, maybe inside the last number");
    if (in.list.line.rfind(std::string(" ") + MODEL_MARKER, 0) == 0) {
        in.begin(21, "run model");
        RunModel saved;
        int ion_slots = 0, electron_slots = 0;
        if (!parse_model(in.list.line, saved, ion_slots, electron_slots)) in.fail("it is damaged");
        if (!same_model(saved, run_model))
            pdp::fatal({"ERROR: file restart was written by a run with options: " + describe(saved),
                        "       this run has: " + describe(run_model)});
        for (Store* s : {&PARTICLE_STORAGE::ions, &PARTICLE_STORAGE::electrons}) {
            const int slots = s == &PARTICLE_STORAGE::ions ? ion_slots : electron_slots;
            if (s->make_room != nullptr && slots > s->count + 1 && slots <= 2000000000 && slots != s->capacity)
                PARTICLE_STORAGE::set_capacity(*s, slots);
        }
        if (!in.list.read_line())
            in.fail_where("the file ends right after it: it was cut short");
    }
    // The particles of the two modes draw their numbers differently; a run
    // cannot continue the other mode's particles.
    const bool parallel_file = in.list.line.rfind(std::string(" ") + STREAMS_MARKER, 0) == 0;
    if (parallel_file && !parallel_mode::on())
        pdp::fatal({"ERROR: file restart was written by a run with --parallel, whose particles draw from",
                    "       their own random streams; restart it with --parallel"});
    if (!parallel_file && parallel_mode::on())
        pdp::fatal({"ERROR: file restart was written by a run without --parallel; restart it without",
                    "       --parallel, or start a new --parallel run (restart flag 0)"});
    if (parallel_file) read_streams(in);
    check_saved_cell(in);
    random_numbers::set_seed(s1, s2);

    // A checkpoint is taken after the run's first solve, so phi_old holds the
    // solve before it: the next solve extrapolates from the two, as the saved
    // run's own next solve does.
    potential::first_solve = false;
}

}  // namespace

bool is_default(const RunModel& m) {
    return !m.parallel && !m.plasma_field && !m.seed_at_cathode && !m.second_order_flights && !m.drift_diffusion &&
           !m.vuv && !m.fluid_electrons && m.max_ions == 0 && m.max_electrons == 0;
}

void set_run_model(const RunModel& model) { run_model = model; }

std::string describe(const RunModel& m) {
    std::string text;
    auto add = [&text](const std::string& option) { text += (text.empty() ? "" : " ") + option; };
    if (m.parallel) add("--parallel");
    if (m.plasma_field) add("--plasma-field");
    if (m.seed_at_cathode) add("--seed-at-cathode");
    if (m.second_order_flights) add("--second-order-flights");
    if (m.drift_diffusion) add("--drift-diffusion");
    if (m.vuv) add("--vuv");
    if (m.fluid_electrons) add("--fluid-electrons");
    if (m.max_ions > 0) add("--max-ions " + std::to_string(m.max_ions));
    if (m.max_electrons > 0) add("--max-electrons " + std::to_string(m.max_electrons));
    add("--seed " + std::to_string(m.seed1) + " " + std::to_string(m.seed2));
    return text;
}

// Walks the file as the restart will, skipping the values, as far as the
// line after the generator state. Nothing is checked beyond what finding
// that line needs.
SavedRun read_saved_run() {
    SavedRun saved;
    std::FILE* file = std::fopen(RESTART_FILE, "r");
    if (file == nullptr) return saved;
    fortran::ListReader list(file);
    std::string token;
    auto skip = [&](long n) {
        for (long m = 0; m < n; ++m)
            if (!list.next_token(token)) return false;
        return true;
    };
    auto empty_line = [&]() {
        list.begin_record();
        return list.read_line();
    };
    auto store = [&]() {
        list.begin_record();
        int n = 0;
        if (!list.read_integer(n) || n < 0) return false;
        for (int slot = 1; slot <= n; ++slot) {
            list.begin_record();
            if (!skip(9)) return false;
        }
        return true;
    };
    bool ok = true;
    for (const ArrayRecord& a : ARRAY_RECORDS) {
        list.begin_record();
        ok = ok && skip(a.count);
        if (a.number == 1) ok = ok && empty_line();
    }
    double dt = 0.0;
    list.begin_record();
    ok = ok && list.read_real(saved.t);
    list.begin_record();
    ok = ok && list.read_real(dt);
    list.begin_record();
    ok = ok && list.read_integer(saved.nstep);
    ok = ok && empty_line() && store() && store();
    list.begin_record();
    ok = ok && skip(2) && empty_line();
    if (ok) {
        int ion_slots = 0, electron_slots = 0;
        if (list.line.rfind(std::string(" ") + MODEL_MARKER, 0) == 0) {
            saved.has_model = parse_model(list.line, saved.model, ion_slots, electron_slots);
            ok = saved.has_model;
        } else if (list.line.rfind(std::string(" ") + STREAMS_MARKER, 0) == 0) {
            saved.model.parallel = true;  // an older parallel run: its streams tell the mode alone
        }
    }
    std::fclose(file);
    saved.readable = ok;
    return saved;
}

void checkpoint_restart(int mode, double& t, int& nstep, double& dt) {
    if (mode == 0) write_checkpoint(t, nstep, dt);
    else if (mode == 1) read_checkpoint(t, nstep, dt);
}

}  // namespace checkpoint
