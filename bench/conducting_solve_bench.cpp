// One conducting potential solve of a saved dense state of a --plasma-field
// run (bench/conducting_states.hpp), with either preconditioner of the
// conjugate gradients: BM_ConductingSolve/state:S/multigrid:0 is the
// incomplete Cholesky factor, /multigrid:1 the multigrid cycle; /threads:T
// the threads the solve may share its passes with. Time is wall time, CPU
// that of every thread. The counters give the iterations of a solve, the
// threads it ran on (fewer than T while one thread was the faster), and the
// wall time per unknown and iteration.
#include "input/cell_geometry.hpp"
#include "input/file_units.hpp"
#include "mesh/conducting_solve.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include "bench_folder.hpp"
#include "conducting_states.hpp"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

using namespace mesh;

namespace {

constexpr int UNKNOWNS = (NX - 2) * (NY - 2) * (NZ - 2);

void build_cell() {
    build_quiet_cell();
}

void BM_ConductingSolve(benchmark::State& state) {
    const std::string& name = conducting_state_names().at(static_cast<std::size_t>(state.range(0)));
    const auto preconditioner = state.range(1) != 0 ? conducting_solve::Preconditioner::multigrid
                                                    : conducting_solve::Preconditioner::incomplete_cholesky;
    build_cell();
    conducting_solve::reset();
    conducting_solve::set_thread_count(static_cast<int>(state.range(2)));
    long iterations = 0, threads = 0;
    for (auto _ : state) {
        state.PauseTiming();
        load_conducting_state(name);
        state.ResumeTiming();
        conducting_solve::solve_potential(potential::SOR_TOLERANCE, preconditioner);
        iterations += conducting_solve::iterations_in_last_solve;
        threads += conducting_solve::threads_in_last_solve;
    }
    conducting_solve::reset();
    state.SetLabel(name);
    // Below T: solves kept to one thread, the threads having lately been slower.
    state.counters["threads_per_solve"] =
        benchmark::Counter(static_cast<double>(threads), benchmark::Counter::kAvgIterations);
    state.counters["iterations_per_solve"] =
        benchmark::Counter(static_cast<double>(iterations), benchmark::Counter::kAvgIterations);
    // Seconds per unknown and iteration (shown with an SI prefix, 12n = 12 ns).
    state.counters["time_per_unknown_iteration"] = benchmark::Counter(
        static_cast<double>(iterations) * UNKNOWNS, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ConductingSolve)
    ->ArgNames({"state", "multigrid", "threads"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {1, 2}})
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
