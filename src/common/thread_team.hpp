#pragma once
// A team of threads held for one relaxation solve. The caller is the last
// member; start() adds the others and stop() ends them. In between, run()
// hands one phase of work to every member at once and returns when all have
// done it; within a phase, member m can wait until member m - 1 has finished a
// plane. That is the pipeline of an in-place sweep split into blocks of rows:
// block m relaxes plane k only after block m - 1 has relaxed plane k, so every
// node sees the same new and old neighbours as in one sweep over all rows.
//
// Waiting members spin a few microseconds and then sleep until woken, so a
// team larger than the machine's cores, or on a busy machine, is slower but
// never stuck.
namespace thread_team {

constexpr int MAX_MEMBERS = 64;
constexpr int MAX_PLANES = 16;  // planes a phase may hand over, numbered 0 .. MAX_PLANES - 1

// One phase of work: called once for every member m = 0 .. members() - 1.
using Phase = void (*)(void* context, int member);

// Starts a team of `members` (clamped to 1 .. MAX_MEMBERS); 1 runs no thread.
void start(int members);
int members();
// Runs work(context, m) on every member m and returns when all have returned.
// The work must not throw.
void run(Phase work, void* context);
// Runs work(context, m) for every member m like run(), or on the caller
// alone, member after member, whichever has lately been faster. Both give
// the same result: in member order every plane a member waits for is done.
// The first two calls try each way, and every 16th call tries the slower one
// again. On an idle machine the team wins; on one so busy that the members
// keep waiting for each other to be scheduled, the caller alone does.
void run_paced(Phase work, void* context);
// Which way a kind of call has lately been faster, on the team or on the
// caller alone, as run_paced() chooses: the first two calls try each way,
// and every 16th call tries the slower one again.
struct Pace {
    double team = -1.0, alone = -1.0;  // cost of the latest call each way (< 0: not yet tried)
    int calls = 0;
    bool team_next() const;
    void record(bool on_team, double cost);
};
// The clock paced calls are timed on, s (see use_clock()).
double seconds();

// Ends the team's threads; run() then works on the caller alone.
void stop();

// Within a phase: member m has finished `plane`, and member m + 1 may take it.
void finish_plane(int member, int plane);
// Within a phase: waits until member m - 1 has finished `plane` (member 0 never waits).
void wait_for_plane(int member, int plane);
// Within a phase of run(), not run_paced(): waits until every member has
// come to this meeting (the same count of meetings on every member).
void meet();

// Holds a team for one scope, also when the scope is left by an exception.
struct Scope {
    explicit Scope(int members) { start(members); }
    ~Scope() { stop(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

// Ends any team, as at program start.
void reset();

// Times paced calls with `seconds` instead of the monotonic clock (nullptr:
// that clock again), for tests of the pacing.
void use_clock(double (*seconds)());

}  // namespace thread_team
