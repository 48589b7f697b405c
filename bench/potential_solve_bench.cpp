// One potential solve of the built-in cell from a state like that of a run:
// sustain electrode 1 at 180 V, electrode 2 and the address electrode at 0 V,
// and a cloud of ions in the cathode region over electrode 2. The argument is
// the solve's thread count (BM_FirstSolve/2: two threads); "Time" is the wall
// time of a solve, "CPU" the processor time of all threads.
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "mesh/charge_and_field.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include "bench_folder.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

using namespace mesh;

namespace {

constexpr int INTERIOR_NODES = (NX - 2) * (NY - 2) * (NZ - 2);

void build_cell() {
    build_quiet_cell();
    potential::setup_sor_coefficients();
}

// Xe+ ions of peak density 2e12 cm^-3 near the front wall over electrode 2.
void add_ion_cloud(double peak_per_cm3) {
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                const double sx = (i - 20) / 6.0, sy = (j - 97) / 15.0, sz = (k - 2) / 5.0;
                const double n = peak_per_cm3 * std::exp(-sx * sx - sy * sy - sz * sz);
                ion_density[ion_slot(2, i, j, k)] = n * ELECTRON_CHARGE;  // C/cm^3
            }
}

void record_counters(benchmark::State& state, long sweeps) {
    state.counters["sweeps_per_solve"] = benchmark::Counter(static_cast<double>(sweeps), benchmark::Counter::kAvgIterations);
    // Seconds per node update (shown with an SI prefix, e.g. 5.0n = 5.0 ns).
    state.counters["time_per_node_update"] = benchmark::Counter(
        static_cast<double>(sweeps) * INTERIOR_NODES, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The first solve of a run: from phi = 0, the electrode field and the space
// charge at once.
void BM_FirstSolve(benchmark::State& state) {
    build_cell();
    potential::set_thread_count(static_cast<int>(state.range(0)));
    potential::set_red_black(state.range(1) != 0);
    electrodes::reset();
    electrodes::electrode_voltage[1] = 180.0;
    add_ion_cloud(2e12);
    long sweeps = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::fill(phi, phi + NODE_COUNT, 0.0);
        potential::first_solve = true;
        field::build_charge_source();
        state.ResumeTiming();
        potential::solve_potential();
        sweeps += potential::sweeps_in_last_solve;
    }
    record_counters(state, sweeps);
}
BENCHMARK(BM_FirstSolve)->ArgNames({"threads", "red_black"})->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

// A solve of the running simulation: the last two solves held the electrode
// field with the cloud, and the cloud has since grown by ten per cent.
void BM_SolveDuringTheRun(benchmark::State& state) {
    build_cell();
    potential::set_thread_count(static_cast<int>(state.range(0)));
    potential::set_red_black(state.range(1) != 0);
    electrodes::reset();
    electrodes::electrode_voltage[1] = 180.0;
    add_ion_cloud(2e12);
    for (int settle = 0; settle < 2; ++settle) {
        field::build_charge_source();
        potential::solve_potential();
    }
    const std::vector<double> phi_start(phi, phi + NODE_COUNT), phi_old_start(phi_old, phi_old + NODE_COUNT);
    add_ion_cloud(2.2e12);
    long sweeps = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(phi_start.begin(), phi_start.end(), phi);
        std::copy(phi_old_start.begin(), phi_old_start.end(), phi_old);
        field::build_charge_source();
        state.ResumeTiming();
        potential::solve_potential();
        sweeps += potential::sweeps_in_last_solve;
    }
    record_counters(state, sweeps);
}
BENCHMARK(BM_SolveDuringTheRun)->ArgNames({"threads", "red_black"})->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
