#include "output/progress.hpp"

#include "common/build_version.hpp"
#include "common/fatal_error.hpp"
#include "electrons/hybrid_electrons.hpp"
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
constexpr double SAMPLE_SPACING = 10.0;   // s between rate samples: a window of five minutes
constexpr int FALLBACK_WIDTH = 80;        // columns when the terminal does not say
constexpr int PLAIN_WIDTH = 79;           // columns of a plain line: an 80-column terminal shows it whole
constexpr double SHORTEST_WINDOW = 5.0;   // s of samples before the time left is estimated
constexpr double RISING_FACTOR = 1.5;     // records grown by this much within the window: a discharge

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

double tick_seconds = 0.0, ticked_seconds = 0.0;
double ticking_seconds() { return ticked_seconds += tick_seconds; }

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

// A real number of particles in at most six columns: 12345, or 2.50e6 from 1e5 on.
std::string real_text(double real) {
    char buf[48];
    if (real < 99999.5) {
        std::snprintf(buf, sizeof buf, "%.0f", real);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.2e", real);
    std::string text = buf;
    const std::size_t e = text.find("e+");
    std::size_t digits = e + 2;
    while (digits + 1 < text.size() && text[digits] == '0') ++digits;
    return text.substr(0, e + 1) + text.substr(digits);
}

// A wall-time span, rounded, as a person says it: 45 s, 12 min, 1:23 h, 150 h.
std::string span_text(double seconds) {
    if (!(seconds < 10000.0 * 3600.0)) return "9999+ h";
    char buf[48];
    const long s = seconds > 0.0 ? std::lround(seconds) : 0;
    const long minutes = (s + 30) / 60;
    if (s < 60)
        std::snprintf(buf, sizeof buf, "%ld s", s);
    else if (minutes < 60)
        std::snprintf(buf, sizeof buf, "%ld min", minutes);
    else if (minutes < 100 * 60)
        std::snprintf(buf, sizeof buf, "%ld:%02ld h", minutes / 60, minutes % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld h", minutes / 60);
    return buf;
}

void draw_live_line() {
    std::fprintf(stderr, "\r%s\033[K", run.text.c_str());
    std::fflush(stderr);
    run.shown = true;
}

void print_line(const StepState& state, double now) {
    // Without merging every record is one particle, and the sums would cost a
    // pass over the stores for nothing.
    const bool merging = run.plan.merging;
    const double real_ions = merging ? particle_merging::real_count(PARTICLE_STORAGE::ions) : state.ions;
    // The fluid of --fluid-electrons holds real electrons without records.
    const double real_electrons =
        (merging ? particle_merging::real_count(PARTICLE_STORAGE::electrons) : state.electrons) +
        hybrid_electrons::fluid_electrons();
    const double over = window_seconds(run.window, now);
    const Pace pace{over >= SHORTEST_WINDOW ? step_rate(run.window, now, state.step) : 0.0, over,
                    records_rising(run.window, state.ions + state.electrons)};
    // A wrapped live line could not be rewritten in place.
    const int width = run.live ? terminal_width() - 1 : PLAIN_WIDTH;
    std::string line = format_line(run.plan, state, now, pace, real_ions, real_electrons, width);
    let_stdout_through();
    if (run.live) {
        run.text = line;
        draw_live_line();
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
}

}  // namespace

int oldest_sample(const RateWindow& window) { return window.count < RateWindow::SIZE ? 0 : window.next; }

void add_sample(RateWindow& window, double wall, int step, int records) {
    window.wall[window.next] = wall;
    window.step[window.next] = step;
    window.records[window.next] = records;
    window.next = (window.next + 1) % RateWindow::SIZE;
    if (window.count < RateWindow::SIZE) ++window.count;
}

double step_rate(const RateWindow& window, double wall, int step) {
    if (window.count == 0) return 0.0;
    const int oldest = oldest_sample(window);
    const double seconds = wall - window.wall[oldest];
    const int steps = step - window.step[oldest];
    if (seconds <= 0.0 || steps <= 0) return 0.0;
    return steps / seconds;
}

double window_seconds(const RateWindow& window, double wall) {
    return window.count == 0 ? 0.0 : std::fmax(0.0, wall - window.wall[oldest_sample(window)]);
}

bool records_rising(const RateWindow& window, int records) {
    return window.count > 0 && records > RISING_FACTOR * window.records[oldest_sample(window)];
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

std::string format_line(const RunPlan& plan, const StepState& state, double wall, const Pace& pace,
                        double real_ions, double real_electrons, int width) {
    const int left = steps_left(plan, state);
    // The run's own end: the end time, or the end of its last step when a
    // step limit comes first.
    const double end = std::fmin(plan.end_time, state.t + left * plan.time_step);
    const std::string head = "t " + fixed(state.t * 1e6, 4) + "/" + shortest(end * 1e6) + " us  ions " +
                             real_text(real_ions) + " electrons " + real_text(real_electrons) + "  ";
    // The estimate, then what it rests on: in full where there is room.
    std::string estimate = "left ?", short_estimate = estimate;
    if (left == 0) {
        estimate = short_estimate = "done";
    } else if (pace.rate > 0.0) {
        const std::string span = span_text(left / pace.rate);
        const std::string over = span_text(pace.seconds);
        if (pace.rising) {
            estimate = "~" + span + " left at the last " + over + "'s rate, longer while the numbers rise";
            short_estimate = "over ~" + span + " left (rising)";
        } else {
            estimate = "~" + span + " left at the last " + over + "'s rate";
            short_estimate = "~" + span + " left (last " + over + ")";
        }
    }
    const std::string extras[] = {"  step " + std::to_string(state.step), "  wall " + clock_text(wall)};
    const std::size_t room = width > 0 ? static_cast<std::size_t>(width) : 0;
    const bool in_words = head.size() + estimate.size() + extras[0].size() + extras[1].size() <= room;
    std::string line = head + (in_words ? estimate : short_estimate);
    for (const std::string& extra : extras)
        if (line.size() + extra.size() <= room) line += extra;
    if (line.size() > room) line.resize(room);  // a terminal narrower than 80 columns
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
        add_sample(run.window, now, state.step, state.ions + state.electrons);
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
    if (!run.plan.cell.empty()) text += "\n  cell             " + run.plan.cell;
    text += "\n  exit             " + exit_reason + "\n";
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

void use_clock(double (*seconds)()) { clock_seconds = seconds != nullptr ? seconds : steady_seconds; }

void use_ticking_clock(double tick) {
    tick_seconds = tick;
    ticked_seconds = 0.0;
    clock_seconds = ticking_seconds;
}

void reset() {
    if (run.shown) erase_live_line();
    if (pdp::before_message == erase_live_line) pdp::before_message = nullptr;
    run = Run{};
}

}  // namespace progress
