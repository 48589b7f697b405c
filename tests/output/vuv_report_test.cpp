// --vuv through the program: its files are the same bytes for every thread
// count and after a restart, it changes none of the other files, and its
// excitations are the ones pulses.csv counts.
#include "common/checksum.hpp"
#include "common/run_binary.hpp"
#include "mesh/mesh_arrays.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Every file of a run folder by name, but the console and the summary
// (processor times) and the run log without its processor times.
std::map<std::string, std::string> files_of(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_directory()) continue;
        const std::string name = fs::relative(entry.path(), dir).string();
        if (name == "console.txt" || name == "summary.txt") continue;
        std::string text = TempFolder::read(entry.path().string());
        if (name == "general.txt") text = log_without_cpu_time(text);
        files[name] = text;
    }
    return files;
}

int run_in(const fs::path& dir, const std::string& arguments, bool fresh = true) {
    if (fresh) {
        fs::create_directory(dir);
        copy_example_case(dir);
    }
    return run_command("cd '" + dir.string() + "' && '" PDPCELL_BINARY "' " + arguments +
                       " < /dev/null > console.txt 2> summary.txt")
        .status;
}

// Column `name` of the data row `row` (0: the first) of a csv with a comment line.
double cell(const std::string& csv, int row, const std::string& name) {
    const std::vector<std::string> lines = lines_of(csv);
    auto split = [](const std::string& line) {
        std::vector<std::string> v;
        std::istringstream in(line);
        for (std::string s; std::getline(in, s, ',');) v.push_back(s);
        return v;
    };
    const std::vector<std::string> header = split(lines.at(1)), values = split(lines.at(2 + row));
    for (std::size_t k = 0; k < header.size(); ++k)
        if (header[k] == name) return std::stod(values.at(k));
    ADD_FAILURE() << "no column " << name;
    return 0.0;
}

// The values of the appended Float64 point array `name` of a .vti file.
std::vector<double> vti_array(const std::string& vti, const std::string& name) {
    const std::string declared = "Name=\"" + name + "\" NumberOfComponents=\"1\" format=\"appended\" offset=\"";
    const std::size_t at = vti.find(declared);
    if (at == std::string::npos) return {};
    const std::size_t offset = std::stoull(vti.substr(at + declared.size()));
    const std::size_t start = vti.find("<AppendedData encoding=\"raw\">\n   _") + 34 + offset;
    std::uint64_t bytes = 0;
    std::memcpy(&bytes, vti.data() + start, sizeof bytes);
    std::vector<double> values(bytes / sizeof(double));
    std::memcpy(values.data(), vti.data() + start + sizeof bytes, bytes);
    return values;
}

// The values of each time block of a slice file (a header, then per block
// TIME, the time, the name and the rows).
std::vector<std::vector<double>> slice_blocks(const std::string& text) {
    std::vector<std::vector<double>> blocks;
    const std::vector<std::string> lines = lines_of(text);
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (lines[l] == "  TIME") {
            blocks.emplace_back();
            l += 2;
            continue;
        }
        if (blocks.empty()) continue;
        std::istringstream in(lines[l]);
        for (double v; in >> v;) blocks.back().push_back(v);
    }
    return blocks;
}

}  // namespace

// 2400 steps of the example in the parallel mode: the first pulse (to 0.1 us)
// and the avalanche that follows it, with a checkpoint at step 2006, between
// two advances of the states, so that it holds excitations not yet advanced.
TEST(VuvRun, FilesAreTheSameForEveryThreadCountAndAfterARestartAndLeaveTheOthersAlone) {
    TempFolder folder;
    const std::string args = "--parallel --max-steps 2400 --checkpoint-every 2005 --vtk-every 1000 --vuv";
    ASSERT_EQ(run_in(folder.path / "t1", args + " --threads 1"), 0);
    ASSERT_EQ(run_in(folder.path / "t2", args + " --threads 2"), 0);
    const auto one = files_of(folder.path / "t1"), two = files_of(folder.path / "t2");
    ASSERT_EQ(one.size(), two.size());
    for (const auto& [name, text] : one) EXPECT_TRUE(text == two.at(name)) << name << " differs with 2 threads";

    // The excitations of the first pulse are those of pulses.csv's six Xe levels.
    const std::string& pulses = one.at("pulses.csv");
    const std::string& vuv = one.at("vuv_pulses.csv");
    double counted = 0.0;
    for (int k = 1; k <= 6; ++k) counted += cell(pulses, 0, "n_exc_Xe" + std::to_string(k));
    ASSERT_GT(counted, 10.0);
    EXPECT_NEAR(cell(vuv, 0, "n_exc_Xe"), counted, 1e-5 * counted);
    EXPECT_GT(cell(vuv, 0, "photons147_phosphor"), 0.0);
    EXPECT_EQ(lines_of(one.at("vuv.csv")).size(), 2u + 2399 / 10);  // steps 11, 21, ..., 2391

    // The states' densities in the 3D file of step 2001 hold the atoms vuv.csv
    // counts then; the slices of step 1000 show them next to the mirror plane.
    const std::string& vti = one.at("vtk/fields_0002001.vti");
    const std::string names[3] = {"Xe*(1s5) density (cm^-3)", "Xe*(1s4) density (cm^-3)", "Xe2* excimer density (cm^-3)"};
    const std::string counted_as[3] = {"N_1s5", "N_1s4", "N_excimers"};
    const int row_2001 = (2001 - 11) / 10;
    for (int s = 0; s < 3; ++s) {
        const std::vector<double> density = vti_array(vti, names[s]);
        ASSERT_EQ(density.size(), static_cast<std::size_t>(mesh::NODE_COUNT)) << names[s];
        double atoms = 0.0;
        for (const double d : density) {
            EXPECT_GE(d, 0.0);
            atoms += d / mesh::inv_cell_volume;
        }
        const double n = cell(one.at("vuv.csv"), row_2001, counted_as[s]);
        EXPECT_GT(n, 0.0) << names[s];
        EXPECT_NEAR(atoms, n, 1e-5 * n) << names[s];
    }
    const auto electron_blocks = slice_blocks(one.at("OUT_Electron_Density.2Ddata"));
    for (const char* file : {"OUT_Xe_1s5_Density.2Ddata", "OUT_Xe_1s4_Density.2Ddata", "OUT_Xe2_Excimer_Density.2Ddata"}) {
        ASSERT_EQ(one.count(file), 1u) << file;
        const auto blocks = slice_blocks(one.at(file));
        ASSERT_EQ(blocks.size(), electron_blocks.size()) << file;
        ASSERT_GE(blocks.size(), 2u) << file;
        EXPECT_EQ(blocks.back().size(), electron_blocks.back().size()) << file;
        EXPECT_GT(*std::max_element(blocks.back().begin(), blocks.back().end()), 0.0) << file;
        EXPECT_GE(*std::min_element(blocks.back().begin(), blocks.back().end()), 0.0) << file;
    }
    // Without --vuv, the parallel mode's files are those of the run with it:
    // no draw more or less, the same pulses.csv.
    ASSERT_EQ(run_in(folder.path / "plain", "--parallel --max-steps 2400 --checkpoint-every 2005 --threads 1"), 0);
    const auto plain = files_of(folder.path / "plain");
    for (const auto& [name, text] : plain) {
        if (name == "restart") continue;
        EXPECT_TRUE(text == one.at(name)) << name << " changed with --vuv";
    }
    EXPECT_EQ(plain.count("vuv.csv"), 0u);
    EXPECT_EQ(plain.at("restart").find("VUV"), std::string::npos);

    // The checkpoint of step 2006 holds the states; the run resumed from it,
    // taking --vuv from there, ends with the same bytes.
    ASSERT_NE(one.at("restart").find(" vuv 1 "), std::string::npos);
    ASSERT_NE(one.at("restart").find("\n VUV STATES "), std::string::npos);
    fs::copy(folder.path / "t1", folder.path / "resumed", fs::copy_options::recursive);
    ASSERT_EQ(run_in(folder.path / "resumed", "--restart --max-steps 2400 --threads 2", false), 0);
    EXPECT_NE(TempFolder::read((folder.path / "resumed" / "console.txt").string()).find("Resumed from file restart at step 2006"),
              std::string::npos);
    const auto resumed = files_of(folder.path / "resumed");
    for (const auto& [name, text] : one) EXPECT_TRUE(text == resumed.at(name)) << name << " differs after the restart";

    // A checkpoint whose VUV record holds another count of values (another
    // build's) is refused, saying so, even with a sound integrity record.
    std::string text = one.at("restart");
    const std::size_t at = text.find("\n VUV STATES ") + 13;
    text.replace(at, text.find('\n', at) - at, "12");
    const std::string body = text.substr(0, text.rfind(" CRC-32 of the bytes above: "));
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(checksum::crc32(body.data(), body.size())));
    fs::copy(folder.path / "t1", folder.path / "other", fs::copy_options::recursive);
    std::ofstream(folder.path / "other" / "restart", std::ios::binary) << body << " CRC-32 of the bytes above: " << hex << "\n";
    EXPECT_NE(run_in(folder.path / "other", "--restart --max-steps 2400", false), 0);
    EXPECT_NE(TempFolder::read((folder.path / "other" / "console.txt").string())
                  .find("ERROR: reading file restart, VUV states: their count is not this build's"),
              std::string::npos);
}
