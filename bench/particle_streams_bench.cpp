// The cost of one uniform draw: the run's single generator (two Schrage
// congruential steps) against a particle's counter-based Philox stream. A
// mover draws a few numbers per flight from one particle, then moves on to the
// next particle, so the streams are measured both walking one particle
// (consecutive draws share a Philox block) and opening a new stream for every
// few draws (as when each particle's flight takes 1 to 4 draws).
#include "particles/particle_streams.hpp"
#include "particles/random_numbers.hpp"

#include <benchmark/benchmark.h>

namespace {

constexpr int COUNT = 1024;

void run_generator(benchmark::State& state) {
    random_numbers::set_seed(1100, 550);
    for (auto _ : state) {
        double sum = 0.0;
        for (int k = 0; k < COUNT; ++k) sum += random_numbers::draw_uniform();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}

void one_particle_stream(benchmark::State& state) {
    particle_streams::Stream s = particle_streams::open_stream(particle_streams::key_for_seeds(1100, 550), 42, 0);
    for (auto _ : state) {
        double sum = 0.0;
        for (int k = 0; k < COUNT; ++k) sum += particle_streams::draw_uniform(s);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}

// Draws per particle from the argument; the counter each stream starts at is
// the particle's number, so half the streams start on an odd counter.
void stream_per_particle(benchmark::State& state) {
    const int per_particle = static_cast<int>(state.range(0));
    const particle_streams::Key key = particle_streams::key_for_seeds(1100, 550);
    std::uint64_t particle = 0;
    for (auto _ : state) {
        double sum = 0.0;
        for (int k = 0; k < COUNT; k += per_particle) {
            particle_streams::Stream s = particle_streams::open_stream(key, particle, particle);
            for (int d = 0; d < per_particle; ++d) sum += particle_streams::draw_uniform(s);
            ++particle;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}

void child_identities(benchmark::State& state) {
    std::uint64_t id = 1;
    for (auto _ : state) {
        for (int k = 0; k < COUNT; ++k) id = particle_streams::child_identity(id, k, particle_streams::CHILD_ION);
        benchmark::DoNotOptimize(id);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}

}  // namespace

BENCHMARK(run_generator);
BENCHMARK(one_particle_stream);
BENCHMARK(stream_per_particle)->Arg(1)->Arg(2)->Arg(4);
BENCHMARK(child_identities);
