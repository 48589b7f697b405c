#include "input/electrode_voltages.hpp"

#include "common/fatal_error.hpp"
#include "common/portable_math.hpp"
#include "input/voltage_file.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace electrodes {

double electrode_voltage[41];

namespace {

constexpr double TWO_PI = 6.2831853071796;

// True strictly inside the window; its ends and a window of zero length add nothing.
bool inside(double t, double start, double end) { return (t - start) * (t - end) < 0.0; }

double decay(double t, double start, double tau) { return portable_math::exp(-(t - start) / tau); }

double sine_phase(double t, int e) {
    using namespace voltage_file;
    return (t - sin_shift[e]) * TWO_PI / sin_period[e];
}

// The closed interval [lo, hi] that holds every time a wave with this window
// is added; false when there is none. Every expression of a wave is monotonic
// in t, so its extremes over the interval lie at the two ends.
bool wave_interval(double start, double end, double& lo, double& hi) {
    using namespace voltage_file;
    if (NDATAVMAX < 1 || voltage_time.size() != static_cast<std::size_t>(NDATAVMAX)) return false;
    lo = std::max(std::min(start, end), voltage_time.front());
    hi = std::min(std::max(start, end), voltage_time.back());
    return lo < hi;
}

}  // namespace

void update_electrode_voltages(double t, double) {
    using namespace voltage_file;
    const int rows = NDATAVMAX;
    if (rows < 1) return;  // no table read: the voltages keep their values
    if (voltage_time.size() != static_cast<std::size_t>(rows) || n_electrodes < 0 ||
        n_electrodes > MAX_ELECTRODES ||
        voltage_table.size() != static_cast<std::size_t>(rows) * static_cast<std::size_t>(n_electrodes))
        pdp::fatal("ERROR: voltage table sizes disagree with NDATAVMAX and the number of electrodes");
    const double* time = voltage_time.data();  // row r at time[r - 1]
    const double first = time[0];
    const double last = time[rows - 1];

    // The interval [time(i), time(i+1)) that holds t: i is the last row not
    // after t, so a zero-length interval is never chosen. Found once for all
    // electrodes.
    const int i = static_cast<int>(std::upper_bound(time, time + rows, t) - time);
    const bool interpolate = i >= 1 && i < rows;
    double s = 0.0;
    if (interpolate) s = (t - time[i - 1]) / (time[i] - time[i - 1]);

    // Only inside the table's time range are the waves added.
    const bool in_range = first <= t && t <= last;
    const bool sine_on = in_range && sin_flag != 0 && inside(t, sin_t_start, sin_t_end);
    const bool meander_on = in_range && meander_flag != 0 && inside(t, meander_t_start, meander_t_end);

    for (int e = 1; e <= n_electrodes; ++e) {
        const std::size_t col = static_cast<std::size_t>(e - 1);
        if (interpolate) {
            const double v_i = voltage_table[static_cast<std::size_t>(i - 1) * n_electrodes + col];
            const double v_next = voltage_table[static_cast<std::size_t>(i) * n_electrodes + col];
            electrode_voltage[e] = (1.0 - s) * v_i + s * v_next;
        } else if (t == last) {
            // The end of the last interval: its row value, not a stale one.
            electrode_voltage[e] = voltage_table[static_cast<std::size_t>(rows - 1) * n_electrodes + col];
        }
        // Outside the table the voltage keeps its previous value.

        // Outside a window a wave adds nothing; skipping it rather than
        // multiplying by 0 keeps an overflowing exponential from making NaN.
        if (sine_on)
            electrode_voltage[e] += sin_amplitude[e] * portable_math::exp(-(t - sin_t_start) / sin_tau) *
                                    portable_math::sin((t - sin_shift[e]) * TWO_PI / sin_period[e]);
        if (meander_on) {
            // Phase within the period, with the sign of t; the first
            // dutyfactor of the period, end point included, is at Vlow.
            const double phase = t - std::trunc(t / Ti[e]) * Ti[e];
            const double level = phase <= dutyfactor[e] * Ti[e] ? Vlow[e] : Vhigh[e];
            electrode_voltage[e] += portable_math::exp(-(t - meander_t_start) / meander_tau) * level;
        }
    }
}

double largest_sine_term(int e) {
    using namespace voltage_file;
    double lo = 0.0, hi = 0.0;
    if (sin_flag == 0 || !wave_interval(sin_t_start, sin_t_end, lo, hi)) return 0.0;
    // sin() of an infinite phase is NaN.
    if (!std::isfinite(sine_phase(lo, e)) || !std::isfinite(sine_phase(hi, e))) return INFINITY;
    const double growth = std::max(decay(lo, sin_t_start, sin_tau), decay(hi, sin_t_start, sin_tau));
    return std::fabs(sin_amplitude[e]) * growth;  // NaN for 0 times an overflow, as in the formula
}

double largest_meander_term(int e) {
    using namespace voltage_file;
    double lo = 0.0, hi = 0.0;
    if (meander_flag == 0 || !wave_interval(meander_t_start, meander_t_end, lo, hi)) return 0.0;
    // The phase only chooses a level; an overflow there picks one, never NaN.
    const double growth =
        std::max(decay(lo, meander_t_start, meander_tau), decay(hi, meander_t_start, meander_tau));
    return growth * std::max(std::fabs(Vlow[e]), std::fabs(Vhigh[e]));
}

void reset() { std::fill(electrode_voltage, electrode_voltage + 41, 0.0); }

}  // namespace electrodes
