// One step of the electron fluid on the whole gas box of the built-in cell
// (39 x 135 x 8 nodes), in the benchmarks' smooth field of about 2e4 V/cm,
// from a dense, uneven plasma (1e13 to 1e15 cm^-3, 2 to 8 eV) with the
// collisions on:
// - BM_ImplicitStep/lines:L/collisions:C: the implicit step at the cell's
//   0.1 ns, its BiCGSTAB preconditioned by lines along x (L = 1) or by the
//   diagonal (L = 0), with the births and the collision loss (C = 1) or the
//   transport alone (C = 0); counters: the iterations of the density and the
//   energy solves;
// - BM_ExplicitSteps/collisions:C: the explicit step, as many of them as
//   0.1 ns takes at its stable step (counter substeps).
// - BM_SlabSteps/semi_implicit:S: the fluid with its field in the built-in
//   cell (every electrode at 0 V): a slab of 1e15 cm^-3 electrons over as
//   many Xe+ at rest, 1 % off them in a pattern, absorbing walls, mean
//   energy held at 4 eV; 12 steps of 0.1 ns with the semi-implicit field
//   (S = 1) or the plain order (S = 0). Counters: the largest |n_e - n_i|/n_i
//   in the bulk (the sheaths aside) after steps 1, 2 and 12, the largest
//   field after step 12, the share of the electrons left, and per step the
//   iterations of the density solves and of the field solve.
// Each repetition starts from the same state. Processor time on one thread.
#include "electrons/electron_fluid.hpp"
#include "electrons/electron_fluid_field.hpp"
#include "input/electrode_voltages.hpp"
#include "mesh/conducting_solve.hpp"
#include "mesh/plasma_field.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/species.hpp"

#include "bench_cell.hpp"
#include "bench_folder.hpp"

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
    set_up(true, state.range(0) != 0);
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
BENCHMARK(BM_ExplicitSteps)->ArgName("collisions")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

constexpr double SLAB = 1e15;  // cm^-3

// Largest |n_e - n_i|/n_i in the bulk: 30 um and more from the front and
// rear walls, 30 um and more from the rib.
double bulk_separation() {
    using namespace mesh;
    double largest = 0;
    for (int k = klo; k <= khi - 3; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo + 15; i <= ihi - 15; ++i)
                largest = std::max(largest, std::fabs(ef::density[node(i, j, k)] - SLAB) / SLAB);
    return largest;
}

double largest_field() {
    using namespace mesh;
    double largest = 0;
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                const int n = node(i, j, k);
                largest = std::max({largest, std::fabs(ex[n]), std::fabs(ey[n]), std::fabs(ez[n])});
            }
    return largest;
}

void start_slab() {
    using namespace mesh;
    species::reset();
    electrodes::reset();
    build_quiet_cell();
    plasma_field::reset();
    conducting_solve::reset();
    ef::reset();
    ef::configure({true, false, false, false});
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                ion_density[ion_slot(2, i, j, k)] = ELECTRON_CHARGE * SLAB;
                ef::set_node(i, j, k, SLAB * (1 + 0.01 * std::sin(0.5 * i) * std::cos(0.1 * j)), 4.0);
            }
}

void BM_SlabSteps(benchmark::State& state) {
    const auto order = state.range(0) != 0 ? electron_fluid_field::Order::semi_implicit
                                           : electron_fluid_field::Order::plain;
    constexpr int STEPS = 12;
    double separation[STEPS] = {}, field = 0, left = 0;
    long density_iterations = 0, field_iterations = 0;
    for (auto _ : state) {
        state.PauseTiming();
        start_slab();
        const double start = ef::total_electrons();
        state.ResumeTiming();
        for (int s = 0; s < STEPS; ++s) {
            density_iterations += electron_fluid_field::step(CELL_STEP, order).density_iterations;
            field_iterations += conducting_solve::iterations_in_last_solve;
            separation[s] = bulk_separation();
        }
        field = largest_field();
        left = ef::total_electrons() / start;
    }
    const double steps = static_cast<double>(state.iterations()) * STEPS;
    state.counters["separation_1"] = separation[0];
    state.counters["separation_2"] = separation[1];
    state.counters["separation_12"] = separation[STEPS - 1];
    state.counters["field_12"] = field;
    state.counters["electrons_left"] = left;
    state.counters["density_iterations"] = static_cast<double>(density_iterations) / steps;
    state.counters["field_iterations"] = static_cast<double>(field_iterations) / steps;
}
BENCHMARK(BM_SlabSteps)->ArgName("semi_implicit")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
