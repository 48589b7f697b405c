// The ion pass on a fixed population: 100,000 ions (one in seven Xe+, the
// rest Ne+, as in the fill) at rest, spread over the middle of the gas box in
// the field of a sustain discharge (about 2e4 V/cm across the gap, with
// components along y and z), moved by one time step of 1e-10 s. Reports the
// processor time per ion moved.
#include "ions/ion_mover.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include "bench_cell.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
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

void BM_IonPass(benchmark::State& state) {
    set_up_bench_cell();
    const std::vector<Start> population = starting_population();
    double cpu_seconds = 0;
    long long ions_moved = 0;
    for (auto _ : state) {
        state.PauseTiming();
        PARTICLE_STORAGE::reset();
        for (const Start& p : population)
            PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::ions, mesh::ELECTRON_CHARGE, 0.0, p.x, p.y, p.z, 0.0,
                                           0.0, 0.0, p.species);
        state.ResumeTiming();
        const double start = thread_seconds();
        ion_mover::advance_ions(STEP);
        cpu_seconds += thread_seconds() - start;
        ions_moved += POPULATION;
    }
    state.counters["cpu_ns_per_ion"] = 1e9 * cpu_seconds / ions_moved;
    state.counters["ions_after"] = PARTICLE_STORAGE::ions.count;
}
BENCHMARK(BM_IonPass)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
