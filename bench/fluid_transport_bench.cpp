// One step of the electron fluid on the whole gas box of the built-in cell
// (39 x 135 x 8 nodes), in the benchmarks' smooth field of about 2e4 V/cm,
// from a dense, uneven plasma (1e13 to 1e15 cm^-3, 2 to 8 eV) with the
// collisions on:
// - BM_ImplicitStep/lines:L/collisions:C: the implicit step at the cell's
//   0.1 ns, its BiCGSTAB preconditioned by lines along x (L = 1) or by the
//   diagonal (L = 0), with the births and the collision loss (C = 1) or the
//   transport alone (C = 0); counters: the iterations of the density and the
//   energy solves;
// - BM_ExplicitSteps: the explicit step, as many of them as 0.1 ns takes at
//   its stable step (counter substeps).
// Each repetition starts from the same state. Processor time on one thread.
#include "electrons/electron_fluid.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/species.hpp"

#include "bench_cell.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace ef = electron_fluid;

namespace {

constexpr double CELL_STEP = 1e-10;  // s

std::vector<double> start_n, start_w;

void set_up(bool lines, bool collisions) {
    species::reset();
    set_up_bench_cell();
    ef::reset();
    ef::Settings settings;
    settings.line_preconditioner = lines;
    settings.collisions = collisions;
    ef::configure(settings);
    using namespace mesh;
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                const double x = (i - ilo + 0.5) / (ihi - ilo + 1), y = (j - jlo + 0.5) / (jhi - jlo + 1);
                const double profile = std::sin(M_PI * x) * (0.5 + 0.5 * std::cos(2 * M_PI * y));
                ef::set_node(i, j, k, 1e13 + 1e15 * profile, 2.0 + 6.0 * x);
            }
    start_n.assign(ef::density, ef::density + NODE_COUNT);
    start_w.assign(ef::energy_density, ef::energy_density + NODE_COUNT);
}

void restart() {
    std::copy(start_n.begin(), start_n.end(), ef::density);
    std::copy(start_w.begin(), start_w.end(), ef::energy_density);
}

void BM_ImplicitStep(benchmark::State& state) {
    set_up(state.range(0) != 0, state.range(1) != 0);
    long density_iterations = 0, energy_iterations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        restart();
        state.ResumeTiming();
        const ef::StepTally t = ef::step_implicit(CELL_STEP, mesh::ex, mesh::ey, mesh::ez);
        density_iterations += t.density_iterations;
        energy_iterations += t.energy_iterations;
    }
    state.counters["density_iterations"] =
        benchmark::Counter(static_cast<double>(density_iterations), benchmark::Counter::kAvgIterations);
    state.counters["energy_iterations"] =
        benchmark::Counter(static_cast<double>(energy_iterations), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ImplicitStep)->ArgNames({"lines", "collisions"})->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_ExplicitSteps(benchmark::State& state) {
    set_up(true, true);
    ef::compute_fluxes(mesh::ex, mesh::ey, mesh::ez);
    const int substeps = static_cast<int>(std::ceil(CELL_STEP / ef::stable_step()));
    for (auto _ : state) {
        state.PauseTiming();
        restart();
        state.ResumeTiming();
        for (int s = 0; s < substeps; ++s) ef::step(CELL_STEP / substeps, mesh::ex, mesh::ey, mesh::ez);
    }
    state.counters["substeps"] = substeps;
}
BENCHMARK(BM_ExplicitSteps)->Unit(benchmark::kMillisecond);

}  // namespace
