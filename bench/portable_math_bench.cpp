// portable_math against the C library on the arguments the program uses:
// log of uniform random numbers in (0, 1) (one per free flight), exp of
// decay exponents in [-50, 0], sin and cos of azimuths in [0, 2 pi]. Each
// iteration evaluates one function on 1024 prepared arguments, independently
// (throughput) or each waiting for the previous result (latency, as in the
// mover, where the next step needs the free time just drawn).
#include "common/portable_math.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int COUNT = 1024;
constexpr double TWO_PI = 6.283185307179586;

std::vector<double> arguments(double lo, double hi) {
    std::mt19937_64 engine(7);
    std::uniform_real_distribution<double> uniform(lo, hi);
    std::vector<double> x(COUNT);
    for (double& v : x) v = uniform(engine);
    return x;
}

template <double (*F)(double)>
void evaluate(benchmark::State& state, double lo, double hi) {
    const std::vector<double> x = arguments(lo, hi);
    for (auto _ : state) {
        double sum = 0.0;
        for (double v : x) sum += F(v);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}

// The argument is multiplied by 1 + 0 * previous result: unchanged, but it
// cannot be computed before the previous call ends.
template <double (*F)(double)>
void evaluate_chained(benchmark::State& state, double lo, double hi) {
    const std::vector<double> x = arguments(lo, hi);
    for (auto _ : state) {
        double previous = 0.0;
        for (double v : x) previous = F(v * (1.0 + 0.0 * previous));
        benchmark::DoNotOptimize(previous);
    }
    state.SetItemsProcessed(state.iterations() * COUNT);
}

double std_log(double x) { return std::log(x); }
double std_exp(double x) { return std::exp(x); }
double std_sin(double x) { return std::sin(x); }
double std_cos(double x) { return std::cos(x); }

void BM_log_portable(benchmark::State& s) { evaluate<portable_math::log>(s, 4.65661305739176e-10, 1.0); }
void BM_log_std(benchmark::State& s) { evaluate<std_log>(s, 4.65661305739176e-10, 1.0); }
void BM_log_chained_portable(benchmark::State& s) {
    evaluate_chained<portable_math::log>(s, 4.65661305739176e-10, 1.0);
}
void BM_log_chained_std(benchmark::State& s) { evaluate_chained<std_log>(s, 4.65661305739176e-10, 1.0); }
void BM_exp_portable(benchmark::State& s) { evaluate<portable_math::exp>(s, -50.0, 0.0); }
void BM_exp_std(benchmark::State& s) { evaluate<std_exp>(s, -50.0, 0.0); }
void BM_sin_portable(benchmark::State& s) { evaluate<portable_math::sin>(s, 0.0, TWO_PI); }
void BM_sin_std(benchmark::State& s) { evaluate<std_sin>(s, 0.0, TWO_PI); }
void BM_cos_portable(benchmark::State& s) { evaluate<portable_math::cos>(s, 0.0, TWO_PI); }
void BM_cos_std(benchmark::State& s) { evaluate<std_cos>(s, 0.0, TWO_PI); }

}  // namespace

BENCHMARK(BM_log_portable);
BENCHMARK(BM_log_std);
BENCHMARK(BM_log_chained_portable);
BENCHMARK(BM_log_chained_std);
BENCHMARK(BM_exp_portable);
BENCHMARK(BM_exp_std);
BENCHMARK(BM_sin_portable);
BENCHMARK(BM_sin_std);
BENCHMARK(BM_cos_portable);
BENCHMARK(BM_cos_std);
