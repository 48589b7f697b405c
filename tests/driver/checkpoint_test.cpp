#include "driver/checkpoint.hpp"

#include "common/checksum.hpp"
#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/quiet_geometry.hpp"
#include "common/temp_folder.hpp"
#include "driver/main_program.hpp"
#include "driver/particle_seeding.hpp"
#include "input/cell_geometry.hpp"
#include "input/voltage_file.hpp"
#include "ions/sustain_state.hpp"
#include "mesh/potential_solver.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_merging.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using checkpoint::checkpoint_restart;
using PARTICLE_STORAGE::Store;

namespace {

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The integrity record that belongs after `body`: the CRC-32 of all of it,
// as 8 hexadecimal digits.
std::string integrity_record_after(const std::string& body) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(checksum::crc32(body.data(), body.size())));
    return std::string(" CRC-32 of the bytes above: ") + hex;
}

// The integrity record that belongs at the end of a whole checkpoint text.
std::string integrity_line(const std::string& text) {
    return integrity_record_after(text.substr(0, text.rfind('\n', text.size() - 2) + 1));
}

// `text` with a fresh integrity record in place of the one it ends with, so
// that a deliberately damaged value is found by its own check.
std::string sealed(const std::string& text) {
    const std::string body = text.substr(0, text.rfind(" CRC-32 of the bytes above: "));
    return body + integrity_record_after(body) + "\n";
}

// Every array the checkpoint saves, in file order.
struct SavedArray {
    double* values;
    long count;
};
const SavedArray SAVED_ARRAYS[] = {
    {mesh::charge_source, mesh::NODE_COUNT},   {mesh::ion_density, 2L * mesh::NODE_COUNT},
    {mesh::electron_density, mesh::NODE_COUNT}, {mesh::wall_charge_x, mesh::PADDED_COUNT},
    {mesh::wall_charge_z, mesh::PADDED_COUNT},  {mesh::phi, mesh::NODE_COUNT},
    {mesh::phi_old, mesh::NODE_COUNT},          {mesh::ex, mesh::NODE_COUNT},
    {mesh::ey, mesh::NODE_COUNT},               {mesh::ez, mesh::NODE_COUNT},
};

// Values that a short decimal form would not bring back: thirds, tiny
// magnitudes and the largest a restart accepts (1e5 fits every array),
// subnormals, negative zero.
double awkward(long m, int array) {
    switch ((m + array) % 7) {
        case 0: return std::ldexp(1.0 + static_cast<double>(m) / 3.0, static_cast<int>(m % 1000) - 1000);
        case 1: return -1.0 / (3.0 + static_cast<double>(m) + array);
        case 2: return std::nextafter(1e-5 * static_cast<double>(m), 1e300);
        case 3: return m % 2 == 0 ? -0.0 : DBL_TRUE_MIN * static_cast<double>(m % 1000 + 1);
        case 4: return m % 3 == 0 ? std::nextafter(1e5, 0.0) : -DBL_MIN;
        case 5: return 1.6021892e-19 * std::sqrt(static_cast<double>(m + 2));
        default: return static_cast<double>(m) * 0.7;
    }
}

// A particle inside the gas box of the built-in cell, at awkward places.
void add(Store& s, double w, double base, int species) {
    PARTICLE_STORAGE::add_particle(s, w, base * 1e-10 / 3.0, mesh::xlow + 0.0011 + base * 1e-7 / 7.0,
                                   mesh::ylow + 0.02 / 3.0, std::nextafter(mesh::zlow + 0.001, 1.0),
                                   -base * 1e7 / 9.0, 2e7 / 3.0, -DBL_MIN * base, species);
}

// Marks the given slots of a store dead, as the movers do.
void kill_slots(Store& s, std::initializer_list<int> slots) {
    for (int slot : slots) {
        s.cursor = slot;
        PARTICLE_STORAGE::delete_current(s);
    }
    PARTICLE_STORAGE::rewind(s);
}

// Non-trivial run state: awkward field values, stores with dead slots (the
// top slot among them) and a generator that has moved on.
void fill_awkward_state() {
    int array = 0;
    for (const SavedArray& a : SAVED_ARRAYS) {
        for (long m = 0; m < a.count; ++m) a.values[m] = awkward(m, array);
        ++array;
    }
    using PARTICLE_STORAGE::electrons;
    using PARTICLE_STORAGE::ions;
    for (int n = 1; n <= 12; ++n) add(electrons, -mesh::ELECTRON_CHARGE, n, n % 3);
    kill_slots(electrons, {3, 7, 12});
    for (int n = 1; n <= 9; ++n) add(ions, mesh::ELECTRON_CHARGE, n + 0.5, 1 + n % 2);
    kill_slots(ions, {1});
    random_numbers::set_seed(123456789, 987654321);
    for (int n = 0; n < 5; ++n) random_numbers::draw_uniform();
}

struct StoreCopy {
    std::vector<PARTICLE_STORAGE::Particle> records;
};

StoreCopy copy_store(const Store& s) {
    StoreCopy c;
    for (int slot = 1; slot <= s.count; ++slot)
        c.records.push_back({s.w[slot], s.t[slot], s.x[slot], s.y[slot], s.z[slot], s.vx[slot],
                             s.vy[slot], s.vz[slot], s.species[slot]});
    return c;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void expect_same_records(const StoreCopy& saved, const Store& s, const char* name) {
    ASSERT_EQ(s.count, static_cast<int>(saved.records.size())) << name;
    for (int slot = 1; slot <= s.count; ++slot) {
        const auto& p = saved.records[slot - 1];
        const double fields[8] = {p.w, p.t, p.x, p.y, p.z, p.vx, p.vy, p.vz};
        const double restored[8] = {s.w[slot], s.t[slot], s.x[slot], s.y[slot],
                                    s.z[slot], s.vx[slot], s.vy[slot], s.vz[slot]};
        for (int f = 0; f < 8; ++f)
            EXPECT_TRUE(same_bits(fields[f], restored[f])) << name << " slot " << slot << " field " << f;
        EXPECT_EQ(s.species[slot], p.species) << name << " slot " << slot;
    }
}

class CheckpointTest : public ::testing::Test {
protected:
    TempFolder folder;

    // The built-in cell gives the gas box that particles must lie in.
    void SetUp() override {
        mesh::reset();
        build_geometry_quietly();
        PARTICLE_STORAGE::reset();
        random_numbers::reset();
    }

    static void save(double t, int nstep, double dt) { checkpoint_restart(0, t, nstep, dt); }
};

}  // namespace

TEST_F(CheckpointTest, RestoresEveryValueBitForBit) {
    fill_awkward_state();
    const double saved_t = 1.0000000000000002e-6 / 3.0;
    const double saved_dt = 3e-10;  // not the loop's step: restored as saved
    save(saved_t, 10001, saved_dt);

    std::vector<std::vector<double>> arrays;
    for (const SavedArray& a : SAVED_ARRAYS) arrays.emplace_back(a.values, a.values + a.count);
    const StoreCopy electrons = copy_store(PARTICLE_STORAGE::electrons);
    const StoreCopy ions = copy_store(PARTICLE_STORAGE::ions);
    ASSERT_EQ(electrons.records[2].w, 0.0);  // dead slots are part of the file
    // The saved run goes on drawing these.
    const double next_draws[3] = {random_numbers::draw_uniform(), random_numbers::draw_uniform(),
                                  random_numbers::draw_uniform()};

    // A fresh start-up: other particles, other fields, a newly seeded generator.
    for (const SavedArray& a : SAVED_ARRAYS) std::fill(a.values, a.values + a.count, 0.0);
    PARTICLE_STORAGE::reset();
    for (int n = 0; n < 45; ++n) {
        add(PARTICLE_STORAGE::ions, mesh::ELECTRON_CHARGE, 99.0, 2);
        add(PARTICLE_STORAGE::electrons, -mesh::ELECTRON_CHARGE, 99.0, 0);
    }
    random_numbers::set_seed(1100, 550);
    mesh::wall_charge_y[17] = 2.5;  // not saved: keeps its start-up value
    mesh::electron_energy[3] = 4.5;

    double t = 0.0, dt = 2e-10;
    int nstep = 1;
    checkpoint_restart(1, t, nstep, dt);

    EXPECT_TRUE(same_bits(t, saved_t));
    EXPECT_TRUE(same_bits(dt, saved_dt));
    EXPECT_EQ(nstep, 10001);
    for (std::size_t a = 0; a < arrays.size(); ++a)
        EXPECT_EQ(std::memcmp(arrays[a].data(), SAVED_ARRAYS[a].values, arrays[a].size() * sizeof(double)), 0)
            << "array record " << a;
    expect_same_records(electrons, PARTICLE_STORAGE::electrons, "electrons");
    expect_same_records(ions, PARTICLE_STORAGE::ions, "ions");
    EXPECT_EQ(PARTICLE_STORAGE::electrons.cursor, 1);
    for (double expected : next_draws) EXPECT_TRUE(same_bits(random_numbers::draw_uniform(), expected));
    EXPECT_EQ(mesh::wall_charge_y[17], 2.5);
    EXPECT_EQ(mesh::electron_energy[3], 4.5);
}

// The movers do not test w: they rely on compaction to remove dead slots. A
// dead slot restored as live would fly as a chargeless ghost, draw random
// numbers and spawn more ghosts, so it must come back dead.
TEST_F(CheckpointTest, DeadSlotsComeBackDeadSoTheNextCompactionRemovesThem) {
    fill_awkward_state();
    save(1e-6, 10001, 1e-10);
    PARTICLE_STORAGE::compact(PARTICLE_STORAGE::electrons);
    PARTICLE_STORAGE::compact(PARTICLE_STORAGE::ions);
    const StoreCopy electrons = copy_store(PARTICLE_STORAGE::electrons);
    const StoreCopy ions = copy_store(PARTICLE_STORAGE::ions);
    ASSERT_EQ(electrons.records.size(), 9u);
    ASSERT_EQ(ions.records.size(), 8u);

    PARTICLE_STORAGE::reset();
    double t = 0.0, dt = 2e-10;
    int nstep = 1;
    checkpoint_restart(1, t, nstep, dt);
    ASSERT_EQ(PARTICLE_STORAGE::electrons.count, 12);  // dead slots still hold their place
    EXPECT_EQ(PARTICLE_STORAGE::electrons.w[3], 0.0);
    EXPECT_EQ(PARTICLE_STORAGE::electrons.cursor, 1);
    EXPECT_EQ(PARTICLE_STORAGE::ions.cursor, 1);
    // The first compaction of the resumed run leaves what the saved run's would.
    PARTICLE_STORAGE::compact(PARTICLE_STORAGE::electrons);
    PARTICLE_STORAGE::compact(PARTICLE_STORAGE::ions);
    expect_same_records(electrons, PARTICLE_STORAGE::electrons, "electrons");
    expect_same_records(ions, PARTICLE_STORAGE::ions, "ions");
}

TEST_F(CheckpointTest, EndsWithTheGeneratorStateAndCopiesOfTheInputFiles) {
    const std::string long_line(150, 'L');
    write_file("input_file.txt", "pdpcell input\n\n" + long_line + "\n0   restart flag");
    write_file("Vdata.txt", "3\r\n  100.0 -50.0 0.0\r\n");
    add(PARTICLE_STORAGE::electrons, -mesh::ELECTRON_CHARGE, 1.0, 0);
    random_numbers::set_seed(44015400, 22380600);
    const double t = 1.0000001e-6;
    save(t, 10001, 1e-10);

    const auto pad = [](std::string s) { s.resize(120, ' '); return s; };
    const std::string time_line = fortran::FreeLine().item(t).str();
    const std::vector<std::string> expected_tail = {
        fortran::FreeLine().item(0).str(),  // ion count
        " 44015400 22380600",
        " ",
        time_line,
        time_line,
        std::string(29, ' ') + "Input_Files.txt",
        " ",
        pad("pdpcell input"),
        pad(""),
        std::string(120, 'L'),
        pad("0   restart flag"),
        " ",
        " **********************************************************",
        std::string(29, ' ') + "Vdata.txt",
        " ",
        pad("3"),
        pad("  100.0 -50.0 0.0"),
        integrity_line(read_file("restart")),
    };
    const std::vector<std::string> lines = split_lines(read_file("restart"));
    ASSERT_GT(lines.size(), expected_tail.size());
    const std::vector<std::string> tail(lines.end() - static_cast<long>(expected_tail.size()), lines.end());
    EXPECT_EQ(tail, expected_tail);

    // Records 12-16 follow the arrays: t, dt, nstep, an empty record, the electron count.
    const auto at = std::find(lines.begin(), lines.end(), time_line);
    ASSERT_LT(at + 5, lines.end());
    EXPECT_EQ(at[1], fortran::FreeLine().item(1e-10).str());
    EXPECT_EQ(at[2], " 10001");
    EXPECT_EQ(at[3], " ");
    EXPECT_EQ(at[4], " 1");
}

TEST_F(CheckpointTest, MissingInputFilesAreNeitherCopiedNorCreated) {
    fs::remove("input_file.txt");  // left by the geometry set-up
    save(0.0, 10001, 1e-10);
    EXPECT_TRUE(fs::exists("restart"));
    EXPECT_FALSE(fs::exists("input_file.txt"));
    EXPECT_FALSE(fs::exists("Input_File.txt"));
    EXPECT_FALSE(fs::exists("Vdata.txt"));
    const std::vector<std::string> lines = split_lines(read_file("restart"));
    // Labels and separators only: nothing between them.
    const std::vector<std::string> tail(lines.end() - 6, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{" ", " ", " **********************************************************",
                                              std::string(29, ' ') + "Vdata.txt", " ",
                                              integrity_line(read_file("restart"))}));
}

TEST_F(CheckpointTest, AFailedWriteKeepsThePreviousCheckpoint) {
    const std::string previous = "the previous checkpoint\n";
    write_file("restart", previous);

    // The disk fills up while the checkpoint is written.
    fs::create_symlink("/dev/full", checkpoint::TEMPORARY_FILE);
    testing::internal::CaptureStdout();
    EXPECT_THROW(save(1e-6, 10001, 1e-10), pdp::FatalError);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ERROR: writing the checkpoint file restart failed"), std::string::npos) << out;
    EXPECT_NE(out.find("No space left on device"), std::string::npos) << out;
    EXPECT_EQ(read_file("restart"), previous);
    EXPECT_FALSE(fs::exists(fs::symlink_status(checkpoint::TEMPORARY_FILE)));

    // The temporary file cannot even be created.
    fs::create_directory(checkpoint::TEMPORARY_FILE);
    testing::internal::CaptureStdout();
    EXPECT_THROW(save(1e-6, 10001, 1e-10), pdp::FatalError);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("can't open restart.tmp"), std::string::npos) << out;
    EXPECT_EQ(read_file("restart"), previous);
    EXPECT_TRUE(fs::is_directory(checkpoint::TEMPORARY_FILE));  // not ours to remove
    fs::remove(checkpoint::TEMPORARY_FILE);

    // A partial file left by a killed write is simply replaced.
    write_file(checkpoint::TEMPORARY_FILE, " 1.0 2.0 3.");
    save(1e-6, 20001, 1e-10);
    EXPECT_FALSE(fs::exists(checkpoint::TEMPORARY_FILE));
    double t = 0.0, dt = 0.0;
    int nstep = 1;
    checkpoint_restart(1, t, nstep, dt);
    EXPECT_EQ(nstep, 20001);
}

TEST_F(CheckpointTest, OtherModesDoNothing) {
    add(PARTICLE_STORAGE::ions, mesh::ELECTRON_CHARGE, 1.0, 1);
    random_numbers::set_seed(7, 8);
    write_file("restart", "not a checkpoint\n");
    for (int mode : {2, -1, 10000}) {
        double t = 5e-6, dt = 2e-10;
        int nstep = 50001;
        checkpoint_restart(mode, t, nstep, dt);
        EXPECT_EQ(t, 5e-6);
        EXPECT_EQ(dt, 2e-10);
        EXPECT_EQ(nstep, 50001);
    }
    EXPECT_EQ(PARTICLE_STORAGE::ions.count, 1);
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    EXPECT_EQ(s1, 7);
    EXPECT_EQ(s2, 8);
    EXPECT_EQ(read_file("restart"), "not a checkpoint\n");
    EXPECT_FALSE(fs::exists(checkpoint::TEMPORARY_FILE));
}

namespace {

// A checkpoint as text: the arrays (records 1-11) as written, then the
// records from the time on, one line each: [0] t, [1] dt, [2] nstep,
// [3] empty, [4] electron count, [5..7] electrons, [8] ion count,
// [9..10] ions, [11] generator state, then the copies.
struct CheckpointText {
    std::string arrays;
    std::vector<std::string> lines;
};

CheckpointText small_checkpoint() {
    for (int n = 1; n <= 3; ++n) add(PARTICLE_STORAGE::electrons, -mesh::ELECTRON_CHARGE, n, 1);
    for (int n = 1; n <= 2; ++n) add(PARTICLE_STORAGE::ions, mesh::ELECTRON_CHARGE, n, 2);
    random_numbers::set_seed(11, 22);
    const double t = 1.2345e-6;
    double tt = t, dt = 1e-10;
    int nstep = 10001;
    checkpoint_restart(0, tt, nstep, dt);
    const std::string text = read_file("restart");
    const std::size_t split = text.find("\n" + fortran::FreeLine().item(t).str() + "\n") + 1;
    return {text.substr(0, split), split_lines(text.substr(split))};
}

std::string join(const std::vector<std::string>& lines, std::size_t end) {
    std::string text;
    for (std::size_t n = 0; n < end && n < lines.size(); ++n) text += lines[n] + "\n";
    return text;
}

// Restarts from the given text, with a fresh integrity record unless told
// otherwise, and returns the console message.
std::string restart_message(const std::string& arrays, const std::vector<std::string>& lines, bool seal = true) {
    std::string text = arrays + join(lines, lines.size());
    if (seal) text = sealed(text);
    write_file("restart", text);
    double t = 0.0, dt = 2e-10;
    int nstep = 1;
    testing::internal::CaptureStdout();
    try {
        checkpoint_restart(1, t, nstep, dt);
    } catch (const pdp::FatalError&) {
        return testing::internal::GetCapturedStdout();
    }
    return testing::internal::GetCapturedStdout() + "(no error)";
}

std::string restart_message(const CheckpointText& c) { return restart_message(c.arrays, c.lines); }

}  // namespace

TEST_F(CheckpointTest, DamagedFilesStopWithTheRecordNamed) {
    testing::internal::CaptureStdout();
    double t = 0.0, dt = 0.0;
    int nstep = 1;
    EXPECT_THROW(checkpoint_restart(1, t, nstep, dt), pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: Can't open file: restart\n");

    const CheckpointText c = small_checkpoint();

    const std::string no_record =
        "WARNING: file restart has no integrity record (written by an older version, or cut short): its "
        "integrity cannot be checked\n";
    EXPECT_EQ(restart_message("", {}, false),
              no_record +
                  "ERROR: reading file restart, record 1 (charge_source: value 1 of 119327): the file ends after 0 "
                  "lines\n");

    std::string m = restart_message(c.arrays.substr(0, c.arrays.size() - 3000), {}, false);
    EXPECT_EQ(m.rfind(no_record, 0), 0u) << m;
    EXPECT_NE(m.find("ERROR: reading file restart, record 11 (ez: value "), std::string::npos) << m;
    EXPECT_NE(m.find("the file ends"), std::string::npos) << m;

    // One value lost from the first array shifts the rest: found at record 2.
    CheckpointText d = c;
    d.arrays.erase(0, d.arrays.find(' ', 1));
    m = restart_message(d);
    EXPECT_NE(m.find("record 2 (empty record): values where none belong"), std::string::npos) << m;

    d = c;
    d.lines[2] = " 10001x";
    EXPECT_NE(restart_message(d).find("record 14 (nstep): '10001x' is not an integer"), std::string::npos);

    // A step the loop never reaches: the last one would overflow the counter.
    for (const char* step : {" 0", " -10000", " 1000001", " 2147483647"}) {
        d = c;
        d.lines[2] = step;
        m = restart_message(d);
        EXPECT_NE(m.find(std::string("record 14 (nstep):") + step + " is not a step of the run (1 to 1000000)"),
                  std::string::npos) << m;
    }
    // A time that is not finite would leave the clock meaningless.
    for (const char* time : {" NaN", " -Infinity"}) {
        d = c;
        d.lines[0] = time;
        m = restart_message(d);
        EXPECT_NE(m.find("record 12 (t): "), std::string::npos) << m;
        EXPECT_NE(m.find(" is not a time"), std::string::npos) << m;
    }
}

TEST_F(CheckpointTest, DamagedParticleRecordsStopWithTheSlotNamed) {
    const CheckpointText c = small_checkpoint();
    ASSERT_EQ(c.lines[11], " 11 22");

    CheckpointText d = c;
    d.lines[7].replace(d.lines[7].find('E'), 1, "Q+");  // electron 3: w
    std::string m = restart_message(d);
    EXPECT_NE(m.find("record 17 (electron store: slot 3 of 3, field w): '"), std::string::npos) << m;
    EXPECT_NE(m.find("is not a number"), std::string::npos) << m;

    d = c;
    d.lines[9] = d.lines[9].substr(0, d.lines[9].rfind(' ')) + " 3";  // ion 1: species
    m = restart_message(d);
    EXPECT_NE(m.find("record 19 (ion store: slot 1 of 2, field species): 3 is not an ion species"),
              std::string::npos) << m;

    d = c;
    d.lines[11] = " 11 -22";
    m = restart_message(d);
    EXPECT_NE(m.find("record 20 (generator state): (11, -22) is not a generator state"), std::string::npos) << m;
}

TEST_F(CheckpointTest, ParticleCountsBeyondTheStoresAreRefusedBeforeAnyAdd) {
    const CheckpointText c = small_checkpoint();

    CheckpointText d = c;
    ASSERT_EQ(d.lines[4], " 3");
    d.lines[4] = " 100000";  // one more than the store holds
    std::string m = restart_message(d);
    EXPECT_NE(m.find("record 16 (electron count): 100000 records do not fit the electron store, which holds "
                     "at most 99999"),
              std::string::npos) << m;
    EXPECT_EQ(PARTICLE_STORAGE::electrons.count, 0);

    d = c;
    d.lines[8] = " 450000";
    m = restart_message(d);
    EXPECT_NE(m.find("450000 records do not fit the ion store, which holds at most 449999"), std::string::npos) << m;
    EXPECT_EQ(PARTICLE_STORAGE::ions.count, 0);
    d.lines[8] = " 449999";  // fits: the records are read until the file gives out
    m = restart_message(d);
    // Past the two saved ions the reader runs into the text after the generator state.
    EXPECT_NE(m.find("record 19 (ion store: slot 3 of 449999, field "), std::string::npos) << m;
    EXPECT_EQ(PARTICLE_STORAGE::ions.count, 2);
}

namespace {

// A particle record of the small checkpoint with one field replaced:
// fields 0..7 are w, t, x, y, z, vx, vy, vz.
std::string with_field(const std::string& record, int field, const std::string& value) {
    std::istringstream in(record);
    std::vector<std::string> items;
    for (std::string item; in >> item;) items.push_back(item);
    items[static_cast<std::size_t>(field)] = value;
    std::string line;
    for (const std::string& item : items) line += " " + item;
    return line;
}

// The arrays text with value `index` (0-based, counted over records 1 and
// 3-11 together) replaced.
std::string with_array_value(std::string arrays, long index, const std::string& value) {
    long seen = -1;
    std::size_t pos = 0;
    while (pos < arrays.size()) {
        pos = arrays.find_first_not_of(" \n", pos);
        if (pos == std::string::npos) break;
        const std::size_t end = arrays.find_first_of(" \n", pos);
        if (++seen == index) return arrays.replace(pos, end - pos, value);
        pos = end;
    }
    return arrays;
}

}  // namespace

// What no run writes, and what would hang the run or overflow the wall-cell
// index later, is refused when read, naming record, slot and field.
TEST_F(CheckpointTest, ValuesNoRunCanWriteAreRefusedWithTheItemNamed) {
    const CheckpointText c = small_checkpoint();
    ASSERT_EQ(c.lines[9].substr(0, 24), " 1.6021892000000000E-19 ");  // ion 1

    const auto refused = [&](int line, int field, const std::string& value, const std::string& expected) {
        CheckpointText d = c;
        d.lines[static_cast<std::size_t>(line)] = with_field(c.lines[static_cast<std::size_t>(line)], field, value);
        const std::string m = restart_message(d);
        EXPECT_NE(m.find(expected), std::string::npos) << value << "\n" << m;
        EXPECT_EQ(m.find("WARNING"), std::string::npos) << m;  // the sealed file passes its integrity check
    };
    const std::string ion_w = "record 19 (ion store: slot 1 of 2, field w): ";
    refused(9, 0, "NaN", ion_w + "NAN is not a finite value");
    refused(9, 0, "Infinity", ion_w + "INF is not a finite value");
    refused(9, 0, "1e300", ion_w + "1.0000000000000001E+300 C is not the charge of a particle record");
    refused(9, 0, "1.5", ion_w + "1.5000000000000000E+00 C is not the charge of a particle record");
    refused(9, 0, "-1", ion_w + "-1.0000000000000000E+00 C has the wrong sign for an ion");
    refused(6, 0, "1.6021892E-19", "record 17 (electron store: slot 2 of 3, field w): 1.6021892000000000E-19 C has "
                                   "the wrong sign for an electron");
    refused(9, 0, "0.5E-19", ion_w + "4.9999999999999999E-20 C is not the charge of a particle record");
    refused(9, 0, "1.7E-7", ion_w + "1.6999999999999999E-07 C is not the charge of a particle record");
    const std::string e3 = "record 17 (electron store: slot 3 of 3, field ";
    refused(7, 5, "NaN", e3 + "vx): NAN is not a finite value");
    refused(7, 6, "-Infinity", e3 + "vy): -INF is not a finite value");
    refused(7, 7, "1e300", e3 + "vx, vy, vz): ");
    // Each component below c, together above.
    CheckpointText fast = c;
    fast.lines[7] = with_field(with_field(c.lines[7], 5, "2.0e10"), 6, "-2.5e10");
    EXPECT_NE(restart_message(fast).find(e3 + "vx, vy, vz): (2.0000000000000000E+10, -2.5000000000000000E+10, "),
              std::string::npos);
    refused(7, 2, "1.0", e3 + "x): 1.0000000000000000E+00 cm lies outside the gas box (3.0000000000000001E-03 to ");
    refused(7, 4, "1e300", e3 + "z): 1.0000000000000001E+300 cm lies outside the gas box");
    refused(7, 1, "-1.0", e3 + "t): -1.0000000000000000E+00 s is not a particle time of a run at t = ");
    refused(10, 1, "1.0", "record 19 (ion store: slot 2 of 2, field t): 1.0000000000000000E+00 s is not a particle time");

    // A dead slot keeps whatever finite values the particle had when it left.
    CheckpointText d = c;
    d.lines[6] = with_field(with_field(c.lines[6], 0, "0.0"), 2, "1.0");
    EXPECT_EQ(restart_message(d), "(no error)");
    EXPECT_EQ(PARTICLE_STORAGE::electrons.w[2], 0.0);
    d.lines[6] = with_field(with_field(c.lines[6], 0, "0.0"), 5, "NaN");
    EXPECT_NE(restart_message(d).find("record 17 (electron store: slot 2 of 3, field vx): NAN is not a finite value"),
              std::string::npos);
    // A merged record of a million charges, a little rounding under one charge.
    d = c;
    d.lines[9] = with_field(c.lines[9], 0, "1.6021892E-13");
    d.lines[10] = with_field(c.lines[10], 0, "1.60218919E-19");
    EXPECT_EQ(restart_message(d), "(no error)");
    EXPECT_EQ(PARTICLE_STORAGE::ions.w[1], 1.6021892e-13);

    // The clock and step.
    d = c;
    d.lines[0] = " -1.0E-09";
    EXPECT_NE(restart_message(d).find("record 12 (t): -1.0000000000000001E-09 is not a time"), std::string::npos);
    d = c;
    d.lines[1] = " NaN";
    EXPECT_NE(restart_message(d).find("record 13 (dt): NAN is not a finite value"), std::string::npos);

    // Arrays: finite, and within what a cell can have.
    const long phi_start = 4L * mesh::NODE_COUNT + 2L * mesh::PADDED_COUNT;
    std::string m = restart_message(with_array_value(c.arrays, phi_start + 11, "NaN"), c.lines);
    EXPECT_NE(m.find("record 7 (phi: value 12 of 119327): NAN is not a finite value"), std::string::npos) << m;
    m = restart_message(with_array_value(c.arrays, phi_start + 11, "1e308"), c.lines);
    EXPECT_NE(m.find("record 7 (phi: value 12 of 119327): 1.0000000000000000E+308 V is beyond what any cell can "
                     "have (1.0E+06 V)"),
              std::string::npos) << m;
    m = restart_message(with_array_value(c.arrays, phi_start - 1, "-2e6"), c.lines);
    EXPECT_NE(m.find("record 6 (wall_charge_z: value 131376 of 131376): -2.0000000000000000E+06 C/cm^3 is beyond "
                     "what any cell can have (1.0E+06 C/cm^3)"),
              std::string::npos) << m;
    m = restart_message(with_array_value(c.arrays, phi_start + 3L * mesh::NODE_COUNT, "-1e17"), c.lines);
    EXPECT_NE(m.find("record 10 (ey: value 1 of 119327): "), std::string::npos) << m;
    m = restart_message(with_array_value(c.arrays, phi_start + 11, "-99999.5"), c.lines);
    EXPECT_EQ(m, "(no error)");
    EXPECT_EQ(mesh::phi[11], -99999.5);
}

// The integrity record: the CRC-32 of everything before it, written as the
// last line and checked before anything is used.
TEST_F(CheckpointTest, AnIntegrityRecordCatchesFilesThatWereChangedOrCut) {
    const CheckpointText c = small_checkpoint();
    const std::string whole = read_file("restart");
    ASSERT_EQ(split_lines(whole).back(), integrity_line(whole));
    EXPECT_EQ(restart_message(c.arrays, c.lines, false), "(no error)");  // as written: silent

    // A changed value that still reads as a number.
    std::string changed = whole;
    changed[changed.find("0.0")] = '1';
    write_file("restart", changed);
    std::string m = restart_message(c.arrays.substr(0, 0) + changed, {}, false);
    EXPECT_EQ(m.rfind("ERROR: reading file restart, integrity record (last line): the CRC-32 of the file is ", 0), 0u)
        << m;
    EXPECT_NE(m.find(" as written; the file is damaged"), std::string::npos) << m;

    const std::string body = whole.substr(0, whole.rfind(" CRC-32"));
    for (const std::string& bad_record : {body + " CRC-32 of the bytes above: 1234\n",
                                          body + integrity_record_after(body),  // cut before its line end
                                          body + " CRC-32 of the bytes above: 1234ABCG\n"}) {
        m = restart_message(bad_record, {}, false);
        EXPECT_EQ(m, "ERROR: reading file restart, integrity record (last line): it is damaged or cut short\n") << m;
    }

    // A file without a record (an older program's) is read with one warning.
    m = restart_message(body, {}, false);
    EXPECT_EQ(m, "WARNING: file restart has no integrity record (written by an older version, or cut short): its "
                 "integrity cannot be checked\n(no error)");
    EXPECT_EQ(PARTICLE_STORAGE::ions.count, 2);

    // Cut inside the generator state's last number: once read as the state
    // (11, 2), now refused whether a record was there to be lost or not.
    const std::string cut = body.substr(0, body.find(" 11 22\n") + 5);
    m = restart_message(cut, {}, false);
    EXPECT_NE(m.find("ERROR: reading file restart, record 20 (generator state): the file ends right after it: it "
                     "was cut short"),
              std::string::npos) << m;
    m = restart_message(body.substr(0, body.find(" 11 22\n") + 7), {}, false);
    EXPECT_NE(m.find("record 20 (generator state): the file ends right after it"), std::string::npos) << m;

    // Files from other editors.
    std::string utf16 = "\xFF\xFE";
    for (char ch : whole.substr(0, 2000)) utf16 += std::string(1, ch) + '\0';
    m = restart_message(utf16, {}, false);
    EXPECT_EQ(m, "ERROR: reading file restart: the file is in UTF-16 (little-endian); it is not a checkpoint\n");
}

namespace {

// Runs the program in `folder` with its console output going to `console`;
// returns the exit status.
int run_program(const fs::path& folder, const std::string& arguments, const std::string& console) {
    const std::string command = "cd '" + folder.string() + "' && '" PDPCELL_BINARY "' " + arguments +
                                " > " + console + " 2>&1 < /dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The run-log line of a step, without its processor-time column.
std::string log_line_of_step(const fs::path& log, int step) {
    for (const std::string& line : split_lines(read_file(log)))
        if (line.size() > 8 && std::atoi(line.substr(0, 8).c_str()) == step && line.substr(0, 8) != " nstep  ")
            return line.substr(0, 70);  // I8, F12.4, 3F10.2, I10, I10
    return "(step " + std::to_string(step) + " not logged)";
}

void set_restart_flag(const fs::path& input_file, int flag) {
    std::vector<std::string> lines = split_lines(read_file(input_file));
    ASSERT_GE(lines.size(), 49u);
    lines[48] = std::to_string(flag) + "        restart flag";
    write_file(input_file, join(lines, lines.size()));
}

}  // namespace

namespace {

// The example case with the start-up state of a fresh run saved as a
// checkpoint at `nstep` (and t = 0), so that a restart from it replays the
// example run shifted by nstep - 1 steps: a live run that crosses the
// checkpoint step 10001 soon after it starts. `parallel`: the checkpoint of
// a --parallel run, its seeds drawn from the seeds' own streams.
// `model`: the checkpoint of a run of that model, with its model line or,
// as older versions wrote it, without.
void prepare_example_restart(const fs::path& dir, int nstep, const checkpoint::RunModel& model,
                             bool model_line = true) {
    fs::copy(fs::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain", dir, fs::copy_options::recursive);
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    driver::reset_all();
    random_numbers::set_seed(1100, 550);
    checkpoint::set_run_model(model_line ? model : checkpoint::RunModel{});
    particle_merging::configure(model.max_ions, model.max_electrons, 1100, 550);
    parallel_mode::configure(model.parallel, 1, 1100, 550);
    testing::internal::CaptureStdout();
    geometry::build_geometry();
    potential::setup_sor_coefficients();
    seeding::seed_initial_particles();
    voltage_file::read_voltage_file();
    sustain_state::prepare_sustain_state(1);
    potential::setup_sor_coefficients();
    testing::internal::GetCapturedStdout();
    double t = 0.0, dt = 2e-10;
    checkpoint_restart(0, t, nstep, dt);
    driver::reset_all();
    for (const char* name : {"SUSTAIN_STATE.txt", "control_file.txt"}) fs::remove(name);
    fs::current_path(previous);
    set_restart_flag(dir / "input_file.txt", 1);
}

void prepare_example_restart(const fs::path& dir, int nstep, bool parallel = false) {
    checkpoint::RunModel model;
    model.parallel = parallel;
    prepare_example_restart(dir, nstep, model, false);
}

// The run log without its processor-time column.
std::string log_without_cpu_time(const fs::path& log) {
    std::string kept;
    for (const std::string& line : split_lines(read_file(log))) kept += line.substr(0, 70) + "\n";
    return kept;
}

const char* const SLICE_FILES[] = {"OUT_Electron_Density.2Ddata", "OUT_Ion_Density.2Ddata",
                                   "OUT_Ion_Density_top.2Ddata", "OUT_Electron_Density_top.2Ddata",
                                   "OUT_Potential.2Ddata"};

// "" for equal texts, else the first line where they differ (whole slice
// files are too long for a failure message).
std::string first_difference(const std::string& a, const std::string& b) {
    const std::vector<std::string> la = split_lines(a), lb = split_lines(b);
    for (std::size_t n = 0; n < std::max(la.size(), lb.size()); ++n)
        if (n >= la.size() || n >= lb.size() || la[n] != lb[n]) return "line " + std::to_string(n + 1) + " differs";
    return a == b ? "" : "the line endings differ";
}

// The history files of a run folder, as they are now.
std::vector<std::string> history_of(const fs::path& dir) {
    std::vector<std::string> files{read_file(dir / "general.txt")};
    for (const char* name : SLICE_FILES) files.push_back(read_file(dir / name));
    return files;
}

}  // namespace

// A run interrupted after its checkpoint and restarted in the same folder
// leaves the files of a run that was never interrupted. The uninterrupted
// run goes from step 8001 through the checkpoint at step 10001 to step 10400,
// with a few hundred ions and the first ionizations; the interrupted one is
// its folder as it was when the run stopped, past the checkpoint, its last
// log line and last slice block cut short as a kill mid-write would leave
// them, then restarted (after a refused attempt with --parallel).
TEST(CheckpointEndToEnd, ARestartedRunContinuesTheFilesOfTheRunItResumes) {
    TempFolder folder;
    const fs::path whole = folder.path / "whole";
    const fs::path resumed = folder.path / "resumed";
    prepare_example_restart(whole, 8001);

    ASSERT_EQ(run_program(whole, "--max-steps 10400", "console.txt"), 0) << read_file(whole / "console.txt");
    EXPECT_FALSE(fs::exists(whole / checkpoint::TEMPORARY_FILE));
    fs::copy(whole, resumed, fs::copy_options::recursive);
    const std::string log = read_file(resumed / "general.txt");
    write_file(resumed / "general.txt", log.substr(0, log.size() - 30));
    fs::resize_file(resumed / "OUT_Potential.2Ddata", fs::file_size(resumed / "OUT_Potential.2Ddata") - 5000);
    const auto saved_checkpoint = fs::last_write_time(resumed / "restart");

    // The checkpoint of the exact mode, in its unchanged format (no model
    // line), cannot go on in the parallel mode, whose particles draw their
    // numbers differently; the refusal says what to do and leaves the files
    // as they were.
    const std::string exact_file = read_file(resumed / "restart");
    EXPECT_EQ(exact_file.find("PARALLEL"), std::string::npos);
    EXPECT_EQ(exact_file.find("RUN MODEL"), std::string::npos);
    const std::vector<std::string> cut_short = history_of(resumed);
    EXPECT_EQ(run_program(resumed, "--parallel --max-steps 10400", "refused.txt"), 1);
    EXPECT_NE(read_file(resumed / "refused.txt")
                  .find("ERROR: the command line has --parallel, but file restart was written by a run with no "
                        "--parallel\n"),
              std::string::npos)
        << read_file(resumed / "refused.txt");
    EXPECT_EQ(read_file(resumed / "restart"), exact_file);
    EXPECT_TRUE(history_of(resumed) == cut_short);

    ASSERT_EQ(run_program(resumed, "--max-steps 10400", "console.txt"), 0) << read_file(resumed / "console.txt");
    EXPECT_NE(read_file(resumed / "console.txt").find("Resumed from file restart at step 10001, t = 0.2000 us"),
              std::string::npos)
        << read_file(resumed / "console.txt");
    EXPECT_EQ(fs::last_write_time(resumed / "restart"), saved_checkpoint);  // step 10001 writes none after a restart
    const std::vector<std::string> lines = split_lines(read_file(resumed / "general.txt"));
    ASSERT_EQ(lines.size(), 1u + (10400 - 8001) / 20 + 1);  // header, steps 8001, 8021, ..., 10381
    EXPECT_EQ(lines[1].substr(0, 8), "    8001");
    EXPECT_EQ(log_without_cpu_time(resumed / "general.txt"), log_without_cpu_time(whole / "general.txt"));
    for (const char* name : SLICE_FILES) {
        // Blocks of steps 8001, 9001 and 10001, bit for bit.
        EXPECT_EQ(first_difference(read_file(resumed / name), read_file(whole / name)), "") << name;
    }
    // The log goes on past the checkpoint: the run was live there.
    const std::string at_checkpoint = log_line_of_step(whole / "general.txt", 10001);
    const std::string at_end = log_line_of_step(whole / "general.txt", 10381);
    EXPECT_NE(at_checkpoint.substr(50, 10), at_end.substr(50, 10));  // the ion count moved

    // A restart that fails before its first step leaves the files as they were.
    const std::vector<std::string> before = history_of(resumed);
    fs::resize_file(resumed / "restart", 5000);
    EXPECT_EQ(run_program(resumed, "--max-steps 10400", "damaged.txt"), 1);
    EXPECT_NE(read_file(resumed / "damaged.txt").find("ERROR: reading file restart, record 1 (charge_source"),
              std::string::npos)
        << read_file(resumed / "damaged.txt");
    EXPECT_TRUE(history_of(resumed) == before);
    fs::remove(resumed / "restart");
    EXPECT_EQ(run_program(resumed, "--max-steps 10400", "missing.txt"), 1);
    EXPECT_NE(read_file(resumed / "missing.txt")
                  .find("ERROR: no checkpoint in this folder, but the restart flag (line 49 of input_file.txt) is 1"),
              std::string::npos)
        << read_file(resumed / "missing.txt");
    EXPECT_TRUE(history_of(resumed) == before);
    // So does a fresh start that fails during its start-up.
    set_restart_flag(resumed / "input_file.txt", 0);
    write_file(resumed / "Vdata.txt", "3\n");
    EXPECT_EQ(run_program(resumed, "--max-steps 10400", "fresh.txt"), 1);
    EXPECT_TRUE(history_of(resumed) == before);
}

// The same for a --parallel run: the checkpoint keeps every particle's
// identity and draws, so the restarted run (here with another thread count)
// continues the uninterrupted one bit for bit. A restart takes the mode from
// the checkpoint: from the streams alone in a file without a model line (as
// older versions wrote, and as the prepared one is), from the model line the
// run then writes.
TEST(CheckpointEndToEnd, ARestartedParallelRunContinuesBitForBitWithAnyThreadCount) {
    TempFolder folder;
    const fs::path whole = folder.path / "whole";
    const fs::path resumed = folder.path / "resumed";
    prepare_example_restart(whole, 8001, true);
    ASSERT_EQ(read_file(whole / "restart").find("RUN MODEL"), std::string::npos);
    ASSERT_EQ(run_program(whole, "--threads 2 --max-steps 10400", "console.txt"), 0)
        << read_file(whole / "console.txt");
    ASSERT_NE(read_file(whole / "restart").find("\n PARALLEL STREAMS 1100 550\n"), std::string::npos);
    fs::copy(whole, resumed, fs::copy_options::recursive);

    ASSERT_EQ(run_program(resumed, "--parallel --threads 3 --max-steps 10400", "console.txt"), 0)
        << read_file(resumed / "console.txt");
    EXPECT_EQ(log_without_cpu_time(resumed / "general.txt"), log_without_cpu_time(whole / "general.txt"));
    for (const char* name : SLICE_FILES)
        EXPECT_EQ(first_difference(read_file(resumed / name), read_file(whole / name)), "") << name;
    const std::string at_checkpoint = log_line_of_step(whole / "general.txt", 10001);
    const std::string at_end = log_line_of_step(whole / "general.txt", 10381);
    EXPECT_NE(at_checkpoint.substr(50, 20), at_end.substr(50, 20));  // particles moved on after it
    // The checkpoint written at step 10001 records the model: a restart
    // needs none of its options, and refuses one that contradicts it.
    ASSERT_NE(read_file(resumed / "restart").find("\n RUN MODEL parallel 1 plasma-field 0"), std::string::npos);
    ASSERT_EQ(run_program(resumed, "--threads 1 --max-steps 10400", "console.txt"), 0)
        << read_file(resumed / "console.txt");
    EXPECT_EQ(log_without_cpu_time(resumed / "general.txt"), log_without_cpu_time(whole / "general.txt"));
    EXPECT_EQ(run_program(resumed, "--seed 5 6 --max-steps 10400", "console.txt"), 1);
    EXPECT_NE(read_file(resumed / "console.txt")
                  .find("ERROR: the command line has --seed 5 6, but file restart was written by a run with "
                        "--seed 1100 550\n"),
              std::string::npos)
        << read_file(resumed / "console.txt");
}

namespace {

// Runs the program in `folder` with its console on /dev/null and no file
// allowed to grow beyond `file_limit` bytes (< 0: no limit): the write that
// would cross it kills the program with SIGXFSZ, at that byte whatever the
// machine's load. Returns the raw wait status.
int run_with_file_limit(const fs::path& folder, const std::string& max_steps, long file_limit) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        if (file_limit >= 0) {
            const rlimit size{static_cast<rlim_t>(file_limit), static_cast<rlim_t>(file_limit)};
            setrlimit(RLIMIT_FSIZE, &size);
        }
        execl(PDPCELL_BINARY, PDPCELL_BINARY, "--max-steps", max_steps.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

}  // namespace

// A run killed while it writes a checkpoint leaves a "restart" from which the
// run can go on: the previous checkpoint, byte for byte (an uninterrupted
// write gives the new one; restarts from such files are tested above). The
// run resumes at step 20000 and writes its checkpoint at the start of step
// 20001; it is killed when the new file reaches spread points of its size.
TEST(CheckpointEndToEnd, AKillDuringTheCheckpointWriteLeavesARestartableCheckpoint) {
    TempFolder folder;
    const fs::path dir = folder.path;
    fs::copy(fs::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain", dir, fs::copy_options::recursive);
    set_restart_flag(dir / "input_file.txt", 1);
    driver::reset_all();
    double t = 2e-6, dt = 1e-10;
    int nstep = 20000;
    checkpoint_restart(0, t, nstep, dt);
    const std::string previous = read_file(dir / "restart");
    // Each run starts from a copy of the case as it is now.
    const fs::path pristine = dir / "pristine";
    fs::create_directory(pristine);
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file()) fs::copy_file(entry.path(), pristine / entry.path().filename());
    const auto fresh_copy = [&](const std::string& name) {
        fs::copy(pristine, dir / name);
        return dir / name;
    };

    const fs::path whole = fresh_copy("whole");
    int status = run_with_file_limit(whole, "20001", -1);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string next = read_file(whole / "restart");
    ASSERT_NE(next, previous);

    // The limit lies beyond every other file the run writes (SUSTAIN_STATE.txt
    // before the checkpoint is the largest), so only the checkpoint meets it.
    std::uintmax_t others = 0;
    for (const auto& entry : fs::directory_iterator(whole))
        if (entry.path().filename() != "restart") others = std::max(others, fs::file_size(entry));
    ASSERT_LT(others, next.size());
    for (const double fraction : {0.0, 0.45, 0.9}) {
        const fs::path run = fresh_copy("killed at " + std::to_string(fraction));
        const long limit = static_cast<long>(others + fraction * static_cast<double>(next.size() - others));
        status = run_with_file_limit(run, "20001", limit);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << fraction << ": status " << status;
        const fs::path temporary = run / checkpoint::TEMPORARY_FILE;
        ASSERT_TRUE(fs::exists(temporary)) << fraction << ": killed outside the checkpoint write";
        EXPECT_LE(fs::file_size(temporary), static_cast<std::uintmax_t>(limit)) << fraction;
        EXPECT_TRUE(read_file(run / "restart") == previous) << fraction;
    }
}

namespace {

// Starts the program in `folder` with `arguments`, its console going to
// `console` there.
pid_t start_run(const fs::path& folder, const std::string& arguments, const std::string& console) {
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string command = "exec '" PDPCELL_BINARY "' " + arguments + " > " + console + " 2>&1 < /dev/null";
        if (chdir(folder.c_str()) != 0) _exit(127);
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Everything a run leaves of its history: the run log without its
// processor times, the slices, the checkpoint and every 3D file, by name.
std::map<std::string, std::string> run_record(const fs::path& dir) {
    std::map<std::string, std::string> record{{"general.txt", log_without_cpu_time(dir / "general.txt")}};
    for (const char* name : SLICE_FILES) record[name] = read_file(dir / name);
    if (fs::exists(dir / "vtk"))
        for (const auto& item : fs::directory_iterator(dir / "vtk"))
            record["vtk/" + item.path().filename().string()] = read_file(item.path());
    return record;
}

// The first entry in which two records differ, or "".
std::string first_difference(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
    for (const auto& [name, text] : a) {
        const auto other = b.find(name);
        if (other == b.end()) return name + " is missing";
        if (other->second != text) return name + ": " + first_difference(text, other->second);
    }
    for (const auto& [name, text] : b)
        if (a.find(name) == a.end()) return name + " is extra";
    return "";
}

}  // namespace

// A merged parallel run with the plasma field, as a batch job would run it:
// stopped by SIGTERM, it finishes its step, saves a checkpoint and exits
// with status 3; continued with --restart and no model option, it leaves the
// files an uninterrupted run leaves. A run continued from an earlier
// checkpoint drops what was written after it, 3D files included. Restarts
// that contradict the saved model or end before it are refused untouched.
TEST(CheckpointEndToEnd, AStoppedModelRunContinuesAsIfNeverInterrupted) {
    TempFolder folder;
    checkpoint::RunModel model;
    model.parallel = model.plasma_field = model.seed_at_cathode = model.drift_diffusion = true;
    model.max_ions = 2000;
    model.max_electrons = 1000;
    const fs::path base = folder.path / "base", whole = folder.path / "whole", stopped = folder.path / "stopped",
                   resumed = folder.path / "resumed";
    prepare_example_restart(base, 8001, model);
    fs::copy(base, whole, fs::copy_options::recursive);
    fs::copy(base, stopped, fs::copy_options::recursive);
    const std::string schedule = "--checkpoint-every 150 --slice-every 100 --vtk-every=100 ";

    const pid_t run = start_run(stopped, schedule + "--threads 2 --max-steps 30000", "console.txt");
    int status = 0;
    for (;;) {
        if (waitpid(run, &status, WNOHANG) == run) FAIL() << read_file(stopped / "console.txt");
        if (fs::exists(stopped / "general.txt") &&
            log_line_of_step(stopped / "general.txt", 8041).find("not logged") == std::string::npos)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(run, SIGTERM);
    waitpid(run, &status, 0);
    const std::string console = read_file(stopped / "console.txt");
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == driver::INTERRUPTED_EXIT_STATUS) << console;
    const std::size_t at = console.find("Stopped by SIGTERM after step ");
    ASSERT_NE(at, std::string::npos) << console;
    const int stop_step = std::atoi(console.c_str() + at + 30);
    EXPECT_NE(console.find("exit             stopped by SIGTERM after step"), std::string::npos) << console;
    // The command that continues the run, as it was typed, with --restart.
    EXPECT_NE(console.find(": checkpoint written; continue with --restart:\n    cd " + stopped.string() + " && "),
              std::string::npos)
        << console;
    EXPECT_NE(console.find(" --checkpoint-every 150 --slice-every 100 --vtk-every=100 --threads 2 --max-steps 30000 "
                           "--restart\n"),
              std::string::npos)
        << console;
    const int last = std::max(8400, stop_step + 60);
    const std::string to_last = "--max-steps " + std::to_string(last);

    ASSERT_EQ(run_program(whole, schedule + to_last, "console.txt"), 0) << read_file(whole / "console.txt");
    ASSERT_EQ(run_program(stopped, "--restart " + schedule + "--threads 1 " + to_last, "console.txt"), 0)
        << read_file(stopped / "console.txt");
    EXPECT_NE(read_file(stopped / "console.txt")
                  .find("Resumed from file restart at step " + std::to_string(stop_step + 1)),
              std::string::npos);
    EXPECT_EQ(first_difference(run_record(stopped), run_record(whole)), "");
    const std::string saved = read_file(whole / "restart");
    EXPECT_NE(saved.find("\n RUN MODEL parallel 1 plasma-field 1 seed-at-cathode 1 second-order-flights 0 drift-diffusion 1 max-ions 2000 max-electrons 1000 "
                         "seed1 1100 seed2 550 ion-slots 4001 electron-slots 2001\n PARALLEL STREAMS 1100 550\n"),
              std::string::npos);
    if (stop_step < 8250) {
        EXPECT_TRUE(read_file(stopped / "restart") == saved);  // both wrote step 8251's last
    }

    fs::copy(whole, resumed, fs::copy_options::recursive);
    set_restart_flag(resumed / "input_file.txt", 0);
    const auto before = run_record(resumed);
    EXPECT_EQ(run_program(resumed, "--restart --max-steps 8000", "console.txt"), 1);
    EXPECT_NE(read_file(resumed / "console.txt").find("ERROR: --max-steps 8000 lies before step"), std::string::npos)
        << read_file(resumed / "console.txt");
    EXPECT_EQ(run_program(resumed, "--restart --max-ions=3000 " + to_last, "console.txt"), 1);
    EXPECT_NE(read_file(resumed / "console.txt")
                  .find("ERROR: the command line has --max-ions 3000, but file restart was written by a run with "
                        "--max-ions 2000\n"),
              std::string::npos)
        << read_file(resumed / "console.txt");
    EXPECT_EQ(first_difference(run_record(resumed), before), "");
    EXPECT_TRUE(read_file(resumed / "restart") == saved);
    ASSERT_EQ(run_program(resumed, "--restart " + schedule + to_last, "console.txt"), 0)
        << read_file(resumed / "console.txt");
    EXPECT_EQ(first_difference(run_record(resumed), run_record(whole)), "");
}

// A capped store that had to grow in the run comes back with the room it
// had, so that the merging goes on as it would have. A merged run whose
// records reach an unphysical weight stops with a diagnosis, its checkpoint
// untouched.
TEST(CheckpointEndToEnd, AGrownStoreComesBackAndARunawayStopsTheRun) {
    TempFolder folder;
    driver::reset_all();
    build_geometry_quietly();
    fs::remove("input_file.txt");
    fs::copy_file(fs::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain" / "input_file.txt", "input_file.txt");
    fs::copy_file(fs::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain" / "Vdata.txt", "Vdata.txt");
    checkpoint::RunModel model;
    model.max_ions = 1000;
    model.max_electrons = 1000;
    particle_merging::configure(model.max_ions, model.max_electrons, 1100, 550);
    PARTICLE_STORAGE::set_capacity(PARTICLE_STORAGE::electrons, 3001);  // grown past its 2001 slots
    const double x = 0.5 * (mesh::xlow + mesh::xhigh), y = 0.5 * (mesh::ylow + mesh::yhigh),
                 z = 0.5 * (mesh::zlow + mesh::zhigh);
    for (int m = 0; m < 2500; ++m)
        PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::electrons, -mesh::ELECTRON_CHARGE, 9.98e-7, x, y, z, 0, 0, 0, 0);
    // 1e11 electrons in one mesh cell of 1e-10 cm^3.
    PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::ions, 1e11 * mesh::ELECTRON_CHARGE, 9.98e-7, x, y, z, 0, 0, 0, 1);
    checkpoint::set_run_model(model);
    double t = 9.98e-7, dt = 1e-10;
    int nstep = 9981;
    checkpoint_restart(0, t, nstep, dt);

    driver::reset_all();
    const std::string input = read_file("input_file.txt");
    build_geometry_quietly();
    write_file("input_file.txt", input);
    checkpoint::set_run_model(model);
    particle_merging::configure(model.max_ions, model.max_electrons, 1100, 550);
    checkpoint_restart(1, t, nstep, dt);
    EXPECT_EQ(PARTICLE_STORAGE::electrons.count, 2500);
    EXPECT_EQ(PARTICLE_STORAGE::electrons.capacity, 3001);
    driver::reset_all();

    const std::string saved = read_file("restart");
    set_restart_flag("input_file.txt", 1);
    EXPECT_EQ(run_program(folder.path, "--max-steps 9990", "console.txt"), 1);
    const std::string console = read_file("console.txt");
    EXPECT_NE(console.find("ERROR: the run has run away numerically in step 9981 (t = 0.998 us): one record "
                           "stands for 1e+21 cm^-3 in its mesh cell\n"),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("give more (--max-ions, --max-electrons)"), std::string::npos);
    EXPECT_TRUE(read_file("restart") == saved);
}
