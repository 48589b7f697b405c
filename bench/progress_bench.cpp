// What the once-per-step progress call costs the time loop when no line is
// printed: with the progress lines off (only the peaks are kept), and with a
// plain line due every 60 s (the clock is read every step). Run it with
// standard error redirected (2>/dev/null): on a terminal the live line would
// be drawn instead. A step of the run costs at least about 0.1 ms.
#include "output/progress.hpp"

#include <benchmark/benchmark.h>

namespace {

void after_step(benchmark::State& state, double every) {
    progress::RunPlan plan;
    plan.every = every;
    plan.end_time = 7e-5;
    plan.last_step = 1000000;
    plan.time_step = 1e-10;
    progress::start(plan);
    progress::StepState step{1, 1e-10, 1000, 2000};
    for (auto _ : state) {
        progress::after_step(step);
        ++step.step;
        step.ions += step.step & 1;  // a new peak every other step
    }
    progress::reset();
}

void BM_after_step_lines_off(benchmark::State& state) { after_step(state, 0.0); }
void BM_after_step_line_every_60s(benchmark::State& state) { after_step(state, 60.0); }

}  // namespace

BENCHMARK(BM_after_step_lines_off);
BENCHMARK(BM_after_step_line_every_60s);
