// The start-up of a run of the example case, as the program does it before
// its first step: the cell geometry, the solver coefficients, the voltage
// file, the sustain state (floating-gap solve, wall charges, the
// SUSTAIN_STATE.txt file) and the coefficients again. Particle seeding is
// left out: it is a few draws. Console output goes to /dev/null. The arguments
// are the floating-gap solve's thread count and sweep order (red_black:1, the
// parallel mode's); "Time" is the wall time, "CPU" the processor time of all
// threads.
#include "driver/main_program.hpp"
#include "input/cell_geometry.hpp"
#include "input/file_units.hpp"
#include "input/voltage_file.hpp"
#include "ions/floating_gap_solver.hpp"
#include "ions/sustain_state.hpp"
#include "mesh/potential_solver.hpp"

#include "bench_folder.hpp"

#include <benchmark/benchmark.h>

#include <filesystem>

namespace {

void BM_StartUp(benchmark::State& state) {
    const std::filesystem::path example = std::filesystem::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain";
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path folder = enter_scratch_folder();
    for (const char* name : {"input_file.txt", "Vdata.txt"}) std::filesystem::copy_file(example / name, name);

    long sweeps = 0;
    {
        const QuietConsole quiet;
        for (auto _ : state) {
            state.PauseTiming();
            driver::reset_all();
            floating_gap::set_thread_count(static_cast<int>(state.range(0)));
            floating_gap::set_red_black(state.range(1) != 0);
            state.ResumeTiming();
            geometry::build_geometry();
            potential::setup_sor_coefficients();
            voltage_file::read_voltage_file();
            sustain_state::prepare_sustain_state(1);
            potential::setup_sor_coefficients();
            FILE_MANAGER::CLOSEALL();
            sweeps += floating_gap::sweeps_in_last_solve;
        }
    }
    leave_scratch_folder(previous, folder);
    state.counters["gap_sweeps"] = benchmark::Counter(static_cast<double>(sweeps), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_StartUp)->ArgNames({"threads", "red_black"})->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
