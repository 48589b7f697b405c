// One write of the 3D state (fields, wall charge, particles and the three
// collections) with a full ion store: 449,999 ion records, the most the store
// holds, and 20,000 electrons, spread over the gas box. The files go to a
// temporary folder on the working disk; the time includes the writes to the
// page cache, not the flush to the device.
#include "input/cell_geometry.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"
#include "output/vtk_output.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include "bench_folder.hpp"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

using namespace mesh;
namespace ps = PARTICLE_STORAGE;

namespace {

constexpr int ELECTRONS = 20000;

// Builds the cell in a fresh temporary folder and stays there for the writes.
std::filesystem::path enter_cell_folder() {
    const std::filesystem::path folder = enter_scratch_folder();
    std::ofstream("input_file.txt").close();
    const QuietConsole quiet;  // the geometry echo
    mesh::reset();
    FILE_MANAGER::reset();
    geometry::build_geometry();
    FILE_MANAGER::reset();
    return folder;
}

double inside(double lo, double hi) { return lo + (hi - lo) * random_numbers::draw_uniform(); }

void fill_stores() {
    ps::reset();
    random_numbers::reset();
    for (int n = 1; n < ps::ION_CAPACITY; ++n)
        ps::add_particle(ps::ions, ELECTRON_CHARGE, 0.0, inside(xlow, xhigh), inside(ylow, yhigh),
                         inside(zlow, zhigh), inside(-1e5, 1e5), inside(-1e5, 1e5), inside(-1e5, 1e5), 1 + n % 2);
    for (int n = 0; n < ELECTRONS; ++n)
        ps::add_particle(ps::electrons, -ELECTRON_CHARGE, 0.0, inside(xlow, xhigh), inside(ylow, yhigh),
                         inside(zlow, zhigh), inside(-1e8, 1e8), inside(-1e8, 1e8), inside(-1e8, 1e8), n % 3);
}

std::uintmax_t bytes_of_one_write() {
    std::uintmax_t bytes = 0;
    for (const char* name : {"vtk/fields_0000001.vti", "vtk/walls_0000001.vtp", "vtk/particles_0000001.vtp"})
        bytes += std::filesystem::file_size(name);
    return bytes;
}

// densities_current = 1: the step accumulated its densities (every 100
// steps); 0: the write accumulates them from the stores and puts the run's back.
void BM_WriteFullState(benchmark::State& state) {
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path folder = enter_cell_folder();
    fill_stores();
    vtk_output::reset();
    const bool densities_current = state.range(0) == 1;
    for (auto _ : state) {
        vtk_output::write_state(1, 0.0, densities_current);
        state.PauseTiming();
        vtk_output::reset();  // each write is the first of its collections
        state.ResumeTiming();
    }
    state.counters["MB_per_write"] = static_cast<double>(bytes_of_one_write()) / 1e6;
    leave_scratch_folder(previous, folder);
}
BENCHMARK(BM_WriteFullState)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
