#pragma once
// How far the run has got, on standard error: on a terminal one line kept up
// to date in place, otherwise a plain line every few seconds; and a summary
// when the run ends, normally or on an error. Standard output and the files
// never see any of it.
#include "particles/particle_storage.hpp"

#include <string>

namespace progress {

// What the run is, fixed before the first step.
struct RunPlan {
    double every = 60.0;     // s between plain lines when stderr is no terminal; 0: none
    bool merging = false;    // records carry several charges: sum them for the real numbers
    double end_time = 0.0;   // s, the run ends after the step that passes it
    int last_step = 0;       // the run ends after this step at the latest
    double time_step = 0.0;  // s per step
    std::string cell;        // the case's cell in a few words; empty: the built-in cell
};

// The run after one step.
struct StepState {
    int step;       // the step just computed
    double t;       // s, time at its end
    int ions;       // ion slots in use
    int electrons;  // electron slots in use
};

// Processor seconds: the whole process, and each phase of the step summed
// over the run.
struct PhaseTimes {
    double total, field, ions, electrons;
};

// Starts the wall clock and decides between the live line (stderr is a
// terminal) and plain lines. When stdout goes to a terminal too, its lines are
// held until the end of each step so that the live line can make way for
// them. Call before the start-up work, before anything is printed.
void start(const RunPlan& plan);

// Once per step. Keeps the peaks; when lines are on, one read of a monotonic
// clock decides whether a line is due.
void after_step(const StepState& state);

// The checkpoint file now holds this step and time.
void checkpoint_written(int step, double t);

// Clears the live line and writes the summary; exit_reason says why the run ended.
void write_summary(const std::string& exit_reason, const PhaseTimes& cpu);

// Forgets the run, as at program start.
void reset();

// Reads wall seconds from `seconds` instead of the monotonic clock (nullptr:
// that clock again), for tests of the lines' timing.
void use_clock(double (*seconds)());

// A clock that moves on by `tick` seconds at every read and stands still
// otherwise: end-to-end tests of the binary set it through the environment
// (PDPCELL_TEST_CLOCK_TICK) so that when lines come follows the steps, not
// the machine's load.
void use_ticking_clock(double tick);

// --- pieces of the line, for tests

// Recent steps per wall second. A discharge changes the cost of a step by
// orders of magnitude, so the rate comes from samples ten seconds apart
// reaching back five minutes: long enough that a short burst does not swing
// the estimate, short enough to follow the run from one phase to the next.
struct RateWindow {
    static constexpr int SIZE = 31;
    double wall[SIZE];  // s
    int step[SIZE];
    int records[SIZE];  // ion and electron records then
    int count = 0;      // samples held
    int next = 0;       // slot the next sample overwrites
};

void add_sample(RateWindow& window, double wall, int step, int records);

// Steps per second from the oldest sample held to (wall, step); 0 when unknown.
double step_rate(const RateWindow& window, double wall, int step);

// Wall seconds the rate is taken over: from the oldest sample held to wall.
double window_seconds(const RateWindow& window, double wall);

// Whether the records have grown by half since the oldest sample: a discharge
// is building, each step costs more than the window's average, and the time
// left will be longer than the estimate.
bool records_rising(const RateWindow& window, int records);

// Whole steps left: until the step that passes end_time or until last_step,
// whichever comes first.
int steps_left(const RunPlan& plan, const StepState& state);

// What the estimate of the time left rests on.
struct Pace {
    double rate = 0.0;     // steps/s; 0: unknown
    double seconds = 0.0;  // s of wall time the rate is taken over
    bool rising = false;   // see records_rising
};

// The progress line for this state, the wall seconds so far and the pace, at
// most `width` columns: the simulated time against the run's own end, the
// real numbers of ions and electrons, and the time left with what it rests
// on; the step and wall time follow when there is room.
std::string format_line(const RunPlan& plan, const StepState& state, double wall, const Pace& pace,
                        double real_ions, double real_electrons, int width);

// Wall seconds as h:mm:ss.
std::string clock_text(double seconds);

}  // namespace progress
