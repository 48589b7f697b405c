// The ion pass on a fixed population: 100,000 ions (one in seven Xe+, the
// rest Ne+, as in the fill) at rest, spread over the middle of the gas box in
// the field of a sustain discharge (about 2e4 V/cm across the gap, with
// components along y and z), moved by one time step of 1e-10 s, in the exact
// mode and in the parallel mode on 1 and 2 threads. Reports the wall and the
// processor time per ion moved.
#include "ions/ion_mover.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include "bench_cell.hpp"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <vector>

namespace {

constexpr int POPULATION = 100000;
constexpr double STEP = 1e-10;  // s

struct Start {
    double x, y, z;
    int species;
};

std::vector<Start> starting_population() {
    using random_numbers::draw_uniform;
    random_numbers::set_seed(1100, 550);
    std::vector<Start> out;
    for (int n = 0; n < POPULATION; ++n) {
        const double x = 0.004 + 0.006 * draw_uniform();
        const double y = 0.002 + 0.064 * draw_uniform();
        const double z = 0.0025 + 0.007 * draw_uniform();
        out.push_back({x, y, z, n % 7 == 0 ? 2 : 1});
    }
    return out;
}

double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Argument 0: the exact mode; N > 0: the parallel mode on N threads, each
// ion drawing from its own stream. "Time" is the wall time of a pass;
// cpu_ns_per_ion counts the calling thread only.
void BM_IonPass(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    set_up_bench_cell();
    const std::vector<Start> population = starting_population();
    parallel_mode::reset();
    double seconds = 0, cpu_seconds = 0;
    long long ions_moved = 0;
    for (auto _ : state) {
        PARTICLE_STORAGE::reset();
        parallel_mode::configure(threads > 0, threads, 1100, 550);
        std::uint64_t identity = 1;
        for (const Start& p : population)
            PARTICLE_STORAGE::add_record(PARTICLE_STORAGE::ions,
                                         {mesh::ELECTRON_CHARGE, 0.0, p.x, p.y, p.z, 0.0, 0.0, 0.0, p.species},
                                         identity++, 0);
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = thread_seconds();
        ion_mover::advance_ions(STEP);
        cpu_seconds += thread_seconds() - cpu_start;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();
        ions_moved += POPULATION;
    }
    state.counters["ns_per_ion"] = 1e9 * seconds / ions_moved;
    state.counters["cpu_ns_per_ion"] = 1e9 * cpu_seconds / ions_moved;
    state.counters["ions_after"] = PARTICLE_STORAGE::ions.count;
    parallel_mode::reset();
}
BENCHMARK(BM_IonPass)->ArgName("threads")->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
