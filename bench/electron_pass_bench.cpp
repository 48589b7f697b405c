// The electron pass on a fixed population: 10,000 electrons at 4 eV spread
// over the middle of the gas box, in a field of the size a sustain discharge
// sees (about 2e4 V/cm across the gap, with components along y and z), moved
// by one time step of 1e-10 s. Reports the cost per electron per step, per
// free flight and per field sub-step (wall time), and per free flight in
// processor time. A second benchmark gives the floor under a sub-step.
//
// electron_pass_bench --second-order: every pass in leapfrog flights, as
// pdpcell --second-order-flights moves them; compare the time per step.
//
// electron_pass_bench --parallel: the same pass in the parallel mode, each
// electron on its own stream, in chunks over 1 and 2 threads (or over the
// counts given with --threads N, which may be repeated); compare the wall
// time per free flight across thread counts.
#include "electrons/collision_frequencies.hpp"
#include "electrons/electron_mover.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include "bench_cell.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int POPULATION = 10000;
bool second_order_flights = false;  // --second-order
constexpr double STEP = 1e-10;  // s

struct Start {
    double x, y, z, vx, vy, vz;
};

// Electrons of the given energy (eV) in random directions.
std::vector<Start> starting_population(double energy) {
    using random_numbers::draw_uniform;
    random_numbers::set_seed(1100, 550);
    const double speed = collision_frequencies::SPEED_PER_SQRT_EV * std::sqrt(energy);
    std::vector<Start> out;
    for (int n = 0; n < POPULATION; ++n) {
        const double x = 0.005 + 0.004 * draw_uniform();
        const double y = 0.01 + 0.05 * draw_uniform();
        const double z = 0.003 + 0.006 * draw_uniform();
        const double c = 2 * draw_uniform() - 1, s = std::sqrt(1 - c * c), phi = 6.283185307179586 * draw_uniform();
        out.push_back({x, y, z, speed * s * std::cos(phi), speed * s * std::sin(phi), speed * c});
    }
    return out;
}

double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// threads = 0: the exact mode; otherwise the parallel mode on that many threads.
void electron_pass(benchmark::State& state, int threads) {
    set_up_bench_cell();
    const std::vector<Start> population = starting_population(4.0);
    electron_mover::reset();
    electron_mover::set_leapfrog(second_order_flights);
    parallel_mode::reset();
    electron_mover::advance_electrons(0.0);  // first call: the bound line and its raise
    double seconds = 0, cpu_seconds = 0;
    long long substeps = 0, flights = 0, electrons_moved = 0;
    for (auto _ : state) {
        PARTICLE_STORAGE::reset();
        parallel_mode::configure(threads > 0, threads, 1100, 550);
        std::uint64_t identity = 1;
        for (const Start& p : population)
            PARTICLE_STORAGE::add_record(PARTICLE_STORAGE::electrons,
                                         {-mesh::ELECTRON_CHARGE, 0.0, p.x, p.y, p.z, p.vx, p.vy, p.vz, 0},
                                         identity++, 0);
        const long long substeps_before = electron_mover::substep_count;
        const long long flights_before = electron_mover::flight_count;
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = thread_seconds();
        electron_mover::advance_electrons(STEP);
        cpu_seconds += thread_seconds() - cpu_start;
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();
        substeps += electron_mover::substep_count - substeps_before;
        flights += electron_mover::flight_count - flights_before;
        electrons_moved += POPULATION;
    }
    state.counters["ns_per_electron_step"] = 1e9 * seconds / electrons_moved;
    state.counters["ns_per_flight"] = 1e9 * seconds / flights;
    state.counters["ns_per_substep"] = 1e9 * seconds / substeps;
    // The same from the processor time of this thread, steadier on a loaded machine.
    state.counters["cpu_ns_per_flight"] = 1e9 * cpu_seconds / flights;
    state.counters["substeps_per_flight"] = double(substeps) / flights;
    state.counters["electrons_after"] = PARTICLE_STORAGE::electrons.count;
    parallel_mode::reset();
}

void BM_ElectronPass(benchmark::State& state) { electron_pass(state, 0); }

// Processor time here is that of the calling thread only; the wall time per
// flight is the figure to compare across thread counts.
void BM_ElectronPassParallel(benchmark::State& state) { electron_pass(state, static_cast<int>(state.range(0))); }

// The floor under a sub-step: the same pass with the bound numax so small
// that no flight ends in a collision, in a field of zeros, with slow
// electrons (0.001 eV) moved for ten steps, so that each takes one flight of
// about a hundred sub-steps and stays well inside the box. What is left is
// the chain of one sub-step feeding the next: a division by the cell width,
// the truncation to the cell and back, the weights, the trilinear sums and
// the push. Those operations and their order are what the output's bits
// depend on, so a sub-step with the same bits costs about this much however
// the loop is arranged.
void BM_SubStepChain(benchmark::State& state) {
    set_up_bench_cell();
    std::fill(mesh::ex, mesh::ex + mesh::NODE_COUNT, 0.0);
    std::fill(mesh::ey, mesh::ey + mesh::NODE_COUNT, 0.0);
    std::fill(mesh::ez, mesh::ez + mesh::NODE_COUNT, 0.0);
    const std::vector<Start> population = starting_population(0.001);
    electron_mover::reset();
    electron_mover::set_leapfrog(second_order_flights);
    electron_mover::advance_electrons(0.0);  // first call: the bound line and its raise
    electron_mover::numax = 1e-30;           // 1/s: every free time outlasts the step
    double cpu_seconds = 0;
    long long substeps = 0, flights = 0;
    for (auto _ : state) {
        state.PauseTiming();
        PARTICLE_STORAGE::reset();
        for (const Start& p : population)
            PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::electrons, -mesh::ELECTRON_CHARGE, 0.0, p.x, p.y, p.z,
                                           p.vx, p.vy, p.vz, 0);
        const long long substeps_before = electron_mover::substep_count;
        const long long flights_before = electron_mover::flight_count;
        state.ResumeTiming();
        const double cpu_start = thread_seconds();
        electron_mover::advance_electrons(10 * STEP);
        cpu_seconds += thread_seconds() - cpu_start;
        substeps += electron_mover::substep_count - substeps_before;
        flights += electron_mover::flight_count - flights_before;
    }
    state.counters["cpu_ns_per_substep"] = 1e9 * cpu_seconds / substeps;
    state.counters["substeps_per_flight"] = double(substeps) / flights;
}
BENCHMARK(BM_SubStepChain)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    // --parallel and --threads N are ours; the rest goes to the library.
    bool parallel = false;
    std::vector<int> thread_counts;
    std::vector<char*> rest{argv[0]};
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--parallel") == 0) parallel = true;
        else if (std::strcmp(argv[a], "--second-order") == 0) second_order_flights = true;
        else if (std::strcmp(argv[a], "--threads") == 0 && a + 1 < argc) thread_counts.push_back(std::stoi(argv[++a]));
        else rest.push_back(argv[a]);
    }
    if (thread_counts.empty()) thread_counts = {1, 2};
    if (parallel) {
        auto* b = benchmark::RegisterBenchmark("BM_ElectronPassParallel", BM_ElectronPassParallel);
        b->ArgName("threads")->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
        for (int n : thread_counts) b->Arg(n);
    } else {
        benchmark::RegisterBenchmark("BM_ElectronPass", BM_ElectronPass)
            ->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(3.0);
    }
    int rest_count = static_cast<int>(rest.size());
    benchmark::Initialize(&rest_count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(rest_count, rest.data())) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
