#include "driver/checkpoint.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/list_reader.hpp"
#include "driver/main_program.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

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

// Arrays of records 1 and 3..11, in file order, first index fastest.
struct ArrayRecord {
    int number;
    const char* name;
    double* values;
    long count;
};

const ArrayRecord ARRAY_RECORDS[] = {
    {1, "charge_source", mesh::charge_source, mesh::NODE_COUNT},
    {3, "ion_density", mesh::ion_density, 2L * mesh::NODE_COUNT},
    {4, "electron_density", mesh::electron_density, mesh::NODE_COUNT},
    {5, "wall_charge_x", mesh::wall_charge_x, mesh::PADDED_COUNT},
    {6, "wall_charge_z", mesh::wall_charge_z, mesh::PADDED_COUNT},
    {7, "phi", mesh::phi, mesh::NODE_COUNT},
    {8, "phi_old", mesh::phi_old, mesh::NODE_COUNT},
    {9, "ex", mesh::ex, mesh::NODE_COUNT},
    {10, "ey", mesh::ey, mesh::NODE_COUNT},
    {11, "ez", mesh::ez, mesh::NODE_COUNT},
};

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
}

// A temporary file that was created is removed, so a full disk is not left fuller.
[[noreturn]] void write_failed(const std::string& problem, int error, bool created = true) {
    if (created) std::remove(TEMPORARY_FILE);
    pdp::fatal({"ERROR: writing the checkpoint file restart failed: " + problem + ": " +
                    std::strerror(error),
                "       the previous checkpoint, if any, is kept"});
}

// The new checkpoint replaces the old one only once it is complete on disk.
void write_checkpoint(double t, int nstep, double dt) {
    std::FILE* out = std::fopen(TEMPORARY_FILE, "w");
    if (out == nullptr) write_failed(std::string("can't open ") + TEMPORARY_FILE, errno, false);

    write_records(out, t, nstep, dt);

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
        a.values[m] = in.real();
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

// Rebuilds a store from its count record and one record per slot.
void read_store(RestartReader& in, Store& store, int count_record, const char* name) {
    empty_store(store);
    const bool is_ion = &store == &PARTICLE_STORAGE::ions;

    in.begin(count_record, is_ion ? "ion count" : "electron count");
    const int n = in.integer();
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
        }
        in.field = FIELD_NAMES[8];
        const int species = in.integer();
        if (!valid_species(store, species))
            in.fail(std::to_string(species) + (is_ion ? " is not an ion species (1 Ne+, 2 Xe+)"
                                                      : " is not an electron origin code (0, 1, 2)"));
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

void read_checkpoint(double& t, int& nstep, double& dt) {
    std::FILE* file = std::fopen(RESTART_FILE, "r");
    if (file == nullptr) pdp::fatal("ERROR: Can't open file: restart");
    RestartReader in(file);  // closes the file, also when a read fails

    for (const ArrayRecord& a : ARRAY_RECORDS) {
        read_array(in, a);
        if (a.number == 1) in.empty_record(2);
    }
    in.begin(12, "t");
    t = in.real();
    if (!std::isfinite(t)) in.fail(fortran::free_real(t) + " is not a time");
    in.begin(13, "dt");
    dt = in.real();
    in.begin(14, "nstep");
    nstep = in.integer();
    // Checkpoints are taken only at steps the loop reaches; a larger count
    // would also overflow when the loop advances it.
    if (nstep < 1 || nstep > driver::MAX_STEP)
        in.fail(std::to_string(nstep) + " is not a step of the run (1 to " + std::to_string(driver::MAX_STEP) + ")");
    in.empty_record(15);

    read_store(in, PARTICLE_STORAGE::electrons, 16, "electron store");
    read_store(in, PARTICLE_STORAGE::ions, 18, "ion store");

    // Negative components would make the generator leave (0, 1).
    in.begin(20, "generator state");
    const int s1 = in.integer();
    const int s2 = in.integer();
    if (s1 < 0 || s2 < 0)
        in.fail("(" + std::to_string(s1) + ", " + std::to_string(s2) + ") is not a generator state");
    random_numbers::set_seed(s1, s2);

    // A checkpoint is taken after the run's first solve, so phi_old holds the
    // solve before it: the next solve extrapolates from the two, as the saved
    // run's own next solve does.
    potential::first_solve = false;
}

}  // namespace

void checkpoint_restart(int mode, double& t, int& nstep, double& dt) {
    if (mode == 0) write_checkpoint(t, nstep, dt);
    else if (mode == 1) read_checkpoint(t, nstep, dt);
}

}  // namespace checkpoint
