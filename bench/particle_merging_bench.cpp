// Merging a full ion store: 450,000 records of a discharge, spread over the
// cells of the gap as a dense glow (about 20 records per occupied cell, two
// species, random velocities), merged down to three quarters of their number,
// which is what the cap check asks of a store that holds one third more than
// its cap. The store is refilled before every iteration, outside the timing.
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_merging.hpp"
#include "particles/particle_storage.hpp"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

constexpr int RECORDS = 450000 - 1;  // the built-in ion store, full

struct Record {
    double x, y, z, vx, vy, vz;
    int species;
};

std::vector<Record> discharge() {
    std::mt19937_64 rng(2014);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> v(0.0, 3e5);  // cm/s
    std::vector<Record> out;
    for (int n = 0; n < RECORDS; ++n) {
        // 20 x 120 x 10 cells of the gap, 2 um x 5 um x 10 um each.
        const double x = (15 + 20 * u(rng)) * mesh::dx, y = (10 + 120 * u(rng)) * mesh::dy,
                     z = (1 + 10 * u(rng)) * mesh::dz;
        out.push_back({x, y, z, v(rng), v(rng), v(rng), 1 + (u(rng) < 0.3 ? 1 : 0)});
    }
    return out;
}

void fill(const std::vector<Record>& records) {
    PARTICLE_STORAGE::ions.count = 0;
    for (const Record& r : records)
        PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::ions, mesh::ELECTRON_CHARGE, 1e-7, r.x, r.y, r.z, r.vx,
                                       r.vy, r.vz, r.species);
}

void BM_MergeFullIonStore(benchmark::State& state) {
    PARTICLE_STORAGE::reset();
    particle_merging::reset();
    particle_merging::configure(0, 0, 1100, 550);
    const std::vector<Record> records = discharge();
    for (auto _ : state) {
        state.PauseTiming();
        fill(records);
        state.ResumeTiming();
        benchmark::DoNotOptimize(particle_merging::merge_down(PARTICLE_STORAGE::ions, RECORDS * 3 / 4, 0));
    }
    state.counters["records"] = RECORDS;
    state.counters["left"] = PARTICLE_STORAGE::ions.count;
    PARTICLE_STORAGE::reset();
}
BENCHMARK(BM_MergeFullIonStore)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
