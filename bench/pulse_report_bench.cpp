// What the per-step report costs in a dense step, against the step's electron
// pass: the built-in cell with a dense discharge's stores (50,000 ion and
// 20,000 electron records at 4 eV over the middle of the gas box, the record
// caps of the long example) and the bench cell's field.
// - BM_ReportStep: pulse_report::account_step as in a step with a field
//   solve, so with the Ramo-Shockley sum over every record and wall cell (a
//   dense --plasma-field run solves in every step; otherwise the sum is taken
//   every tenth step and costs a tenth of this per step).
// - BM_DenseElectronPass: the exact mode's electron pass of the same
//   electrons over one step, tallies included.
// The tallies inside the movers are measured by electron_pass_bench, built
// before and after they were added.
#include "driver/main_program.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/electron_mover.hpp"
#include "input/cell_geometry.hpp"
#include "input/file_units.hpp"
#include "mesh/electrode_response.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"
#include "output/pulse_report.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include "bench_cell.hpp"
#include "bench_folder.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>

namespace {

constexpr int IONS = 50000, ELECTRONS = 20000;
constexpr double STEP = 1e-10;  // s

void fill_stores() {
    using random_numbers::draw_uniform;
    random_numbers::set_seed(1100, 550);
    PARTICLE_STORAGE::reset();
    const double speed = collision_frequencies::SPEED_PER_SQRT_EV * 2.0;  // 4 eV
    for (int n = 0; n < IONS + ELECTRONS; ++n) {
        const double x = 0.005 + 0.004 * draw_uniform(), y = 0.01 + 0.05 * draw_uniform(),
                     z = 0.003 + 0.006 * draw_uniform();
        const double c = 2 * draw_uniform() - 1, s = std::sqrt(1 - c * c), phi = 6.283185307179586 * draw_uniform();
        if (n < IONS)
            PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::ions, mesh::ELECTRON_CHARGE, 0.0, x, y, z, 0, 0, 0, 2);
        else
            PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::electrons, -mesh::ELECTRON_CHARGE, 0.0, x, y, z,
                                           speed * s * std::cos(phi), speed * s * std::sin(phi), speed * c, 0);
    }
}

// The built-in cell's geometry and unit potentials, then the bench field.
struct Cell {
    std::filesystem::path previous, folder;
    Cell() {
        const std::filesystem::path example = std::filesystem::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain";
        previous = std::filesystem::current_path();
        folder = enter_scratch_folder();
        std::filesystem::copy_file(example / "input_file.txt", "input_file.txt");
        const QuietConsole quiet;
        driver::reset_all();
        geometry::build_geometry();
        FILE_MANAGER::CLOSEALL();
        potential::setup_sor_coefficients();
        electrode_response::compute();
    }
    ~Cell() {
        driver::reset_all();
        leave_scratch_folder(previous, folder);
    }
};

void BM_ReportStep(benchmark::State& state) {
    const Cell cell;
    fill_stores();
    pulse_report::account_step(1, 0.0, STEP, true);  // opens the files, first sample
    int nstep = 2;
    for (auto _ : state) {
        pulse_report::account_step(nstep, (nstep - 1) * STEP, STEP, true);
        ++nstep;
    }
}
BENCHMARK(BM_ReportStep)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_DenseElectronPass(benchmark::State& state) {
    const Cell cell;
    set_up_bench_cell();
    electron_mover::reset();
    { const QuietConsole quiet; electron_mover::advance_electrons(0.0); }  // the bound line and its raise
    for (auto _ : state) {
        state.PauseTiming();
        fill_stores();
        state.ResumeTiming();
        electron_mover::advance_electrons(STEP);
    }
}
BENCHMARK(BM_DenseElectronPass)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
