#include "output/progress.hpp"

#include "common/build_version.hpp"
#include "common/fatal_error.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_merging.hpp"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <stdio_ext.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace progress {

namespace {

constexpr double REDRAW_INTERVAL = 0.25;  // s between rewrites of the live line
constexpr double SAMPLE_SPACING = 4.0;    // s between rate samples: a window of about a minute
constexpr int FALLBACK_WIDTH = 80;        // columns when the terminal does not say

// The whole state of the unit.
struct Run {
    RunPlan plan;
    bool started = false;
    bool live = false;            // stderr is a terminal: one line rewritten in place
    bool shares_terminal = false; // stdout goes to a terminal too
    bool shown = false;           // the live line is on the screen now
    std::string text;             // the live line last drawn
    double start_time = 0.0;      // s on the clock
    double next_line = 0.0;       // s since start when a line is next due
    double next_sample = 0.0;     // s since start when the rate is next sampled
    RateWindow window;
    int first_step = 0;           // first step computed by this run; 0: none yet
    StepState last{0, 0.0, 0, 0};
    int peak_ions = 0, peak_ions_step = 0;
    int peak_electrons = 0, peak_electrons_step = 0;
    int checkpoint_step = 0;      // 0: none written
    double checkpoint_time = 0.0; // s
};

Run run;

double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double (*clock_seconds)() = steady_seconds;

double wall_seconds() { return clock_seconds() - run.start_time; }

int terminal_width() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return FALLBACK_WIDTH;
}

void erase_live_line() {
    if (!run.shown) return;
    std::fputs("\r\033[K", stderr);
    run.shown = false;
}

// Console lines the step wrote to stdout go out first, so that neither the
// live line nor a plain line ever lands inside them. On a shared terminal the
// live line is cleared first and drawn again below them.
void let_stdout_through() {
    if (__fpending(stdout) == 0) return;
    if (run.shares_terminal) erase_live_line();
    std::fflush(stdout);
}

std::string fixed(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

std::string shortest(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", value);
    return buf;
}

std::string count_text(int records, double real) {
    std::string text = std::to_string(records);
    if (real >= 0.0) {
        char buf[48];
        std::snprintf(buf, sizeof buf, " (real %.3e)", real);
        text += buf;
    }
    return text;
}

void draw_live_line() {
    std::fprintf(stderr, "\r%s\033[K", run.text.c_str());
    std::fflush(stderr);
    run.shown = true;
}

void print_line(const StepState& state, double now) {
    const bool merging = run.plan.merging;
    const double real_ions = merging ? particle_merging::real_count(PARTICLE_STORAGE::ions) : -1.0;
    const double real_electrons = merging ? particle_merging::real_count(PARTICLE_STORAGE::electrons) : -1.0;
    std::string line = format_line(run.plan, state, now, step_rate(run.window, now, state.step), real_ions,
                                   real_electrons);
    let_stdout_through();
    if (run.live) {
        const std::size_t width = static_cast<std::size_t>(terminal_width() - 1);
        if (line.size() > width) line.resize(width);  // a wrapped line could not be rewritten
        run.text = line;
        draw_live_line();
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
}

}  // namespace

void add_sample(RateWindow& window, double wall, int step) {
    window.wall[window.next] = wall;
    window.step[window.next] = step;
    window.next = (window.next + 1) % RateWindow::SIZE;
    if (window.count < RateWindow::SIZE) ++window.count;
}

double step_rate(const RateWindow& window, double wall, int step) {
    if (window.count == 0) return 0.0;
    const int oldest = window.count < RateWindow::SIZE ? 0 : window.next;
    const double seconds = wall - window.wall[oldest];
    const int steps = step - window.step[oldest];
    if (seconds <= 0.0 || steps <= 0) return 0.0;
    return steps / seconds;
}

int steps_left(const RunPlan& plan, const StepState& state) {
    // The loop goes on while the time at the end of a step has not passed end_time.
    double by_time = 0.0;
    if (state.t <= plan.end_time) by_time = std::floor((plan.end_time - state.t) / plan.time_step) + 1.0;
    const double by_step = static_cast<double>(plan.last_step) - state.step;
    const double left = std::fmin(by_time, by_step);
    return left > 0.0 ? static_cast<int>(left) : 0;
}

std::string clock_text(double seconds) {
    const long s = seconds > 0.0 ? static_cast<long>(seconds) : 0;
    char buf[48];
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    return buf;
}

std::string format_line(const RunPlan& plan, const StepState& state, double wall, double rate,
                        double real_ions, double real_electrons) {
    const int left = steps_left(plan, state);
    const int last = state.step + left;
    const double percent = last > 0 ? 100.0 * state.step / last : 100.0;
    std::string line = "step " + std::to_string(state.step) + " of " + std::to_string(last) + " (" +
                       fixed(percent, 1) + "%)  t " + fixed(state.t * 1e6, 4) + " of " +
                       shortest(plan.end_time * 1e6) + " us  wall " + clock_text(wall) + "  left ";
    line += rate > 0.0 ? "~" + clock_text(left / rate) : "?";
    line += "  ions " + count_text(state.ions, real_ions) + "  electrons " + count_text(state.electrons, real_electrons);
    return line;
}

void start(const RunPlan& plan) {
    reset();
    run.plan = plan;
    run.started = true;
    run.start_time = clock_seconds();
    run.live = isatty(STDERR_FILENO) == 1;
    run.shares_terminal = run.live && isatty(STDOUT_FILENO) == 1;
    // A terminal gets stdout line by line; held until the end of the step
    // instead, the step's console lines can be let through below the live line.
    if (run.shares_terminal) {
        std::fflush(stdout);
        std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
        pdp::before_message = erase_live_line;
    }
    run.next_line = run.live ? 0.0 : plan.every;
}

void after_step(const StepState& state) {
    if (run.first_step == 0) run.first_step = state.step;
    run.last = state;
    if (state.ions > run.peak_ions) {
        run.peak_ions = state.ions;
        run.peak_ions_step = state.step;
    }
    if (state.electrons > run.peak_electrons) {
        run.peak_electrons = state.electrons;
        run.peak_electrons_step = state.step;
    }
    if (!run.started || (!run.live && !(run.plan.every > 0.0))) return;

    if (run.shown) let_stdout_through();
    const double now = wall_seconds();
    if (now >= run.next_sample) {
        add_sample(run.window, now, state.step);
        run.next_sample = now + SAMPLE_SPACING;
    }
    if (now >= run.next_line) {
        print_line(state, now);
        run.next_line = now + (run.live ? REDRAW_INTERVAL : run.plan.every);
    } else if (run.live && !run.shown) {
        draw_live_line();  // again, below the console lines that cleared it
    }
}

void checkpoint_written(int step, double t) {
    run.checkpoint_step = step;
    run.checkpoint_time = t;
}

void write_summary(const std::string& exit_reason, const PhaseTimes& cpu) {
    erase_live_line();
    std::fflush(stdout);  // the console lines before the summary that follows them
    const double wall = run.started ? wall_seconds() : 0.0;
    const int steps = run.first_step > 0 ? run.last.step - run.first_step + 1 : 0;
    const double other = cpu.total - cpu.field - cpu.ions - cpu.electrons;

    std::string text = "pdpcell: run summary\n";
    text += "  version          " + build_version::text() + "\n";
    // A run stopped before its first step has no figures but its times.
    const bool in_start_up = steps == 0 && run.checkpoint_step == 0;
    text += "  steps run        " + (in_start_up ? std::string("none: the run stopped during its start-up")
                                                 : std::to_string(steps));
    if (steps > 0)
        text += " (steps " + std::to_string(run.first_step) + " to " + std::to_string(run.last.step) +
                "), simulated time reached " + fixed(run.last.t * 1e6, 4) + " us";
    text += "\n  wall time        " + fixed(wall, 2) + " s (" + clock_text(wall) + ")\n";
    text += "  processor time   " + fixed(cpu.total, 2) + " s";
    if (!in_start_up) {
        text += ": field " + fixed(cpu.field, 2) + " s, ions " + fixed(cpu.ions, 2) + " s, electrons " +
                fixed(cpu.electrons, 2) + " s, start-up and other " + fixed(other, 2) + " s";
        text += "\n  peak ions        " + std::to_string(run.peak_ions);
        if (run.peak_ions_step > 0) text += " after step " + std::to_string(run.peak_ions_step);
        text += "\n  peak electrons   " + std::to_string(run.peak_electrons);
        if (run.peak_electrons_step > 0) text += " after step " + std::to_string(run.peak_electrons_step);
        text += "\n  last checkpoint  ";
        if (run.checkpoint_step > 0)
            text += "at the start of step " + std::to_string(run.checkpoint_step) + ", t = " +
                    fixed(run.checkpoint_time * 1e6, 4) + " us";
        else
            text += "none written by this run";
    }
    text += "\n  exit             " + exit_reason + "\n";
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

void use_clock(double (*seconds)()) { clock_seconds = seconds != nullptr ? seconds : steady_seconds; }

void reset() {
    if (run.shown) erase_live_line();
    if (pdp::before_message == erase_live_line) pdp::before_message = nullptr;
    run = Run{};
}

}  // namespace progress
