#include "common/thread_team.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace thread_team {

namespace {

std::vector<std::thread> workers;
int member_count = 1;

// Phase n is posted by storing n in phase_number after the work and context;
// a member that reads n sees them.
std::atomic<int> phase_number{0};
Phase phase_work = nullptr;
void* phase_context = nullptr;
std::atomic<int> members_done{0};
std::atomic<bool> leaving{false};

// The phase in which each member last finished each plane. One cache line per
// member, so that a member's marks do not disturb the others' reads.
struct alignas(64) PlaneMarks {
    std::atomic<int> phase[MAX_PLANES];
};
PlaneMarks plane_marks[MAX_MEMBERS];

// Members at the current meeting, and the meetings ended so far. While
// every member has a core of its own, a member spins longer at a meeting
// before it sleeps: meetings come every few microseconds, and waking a
// sleeper takes tens. With more members than cores, spinning would keep
// the late members from their cores.
constexpr int MEETING_SPINS = 200000;
int meeting_spins = MEETING_SPINS;
std::atomic<int> members_met{0};
std::atomic<int> meetings_held{0};

// Waits until ready(value of a) holds: spins a few microseconds, the usual
// wait on an idle machine, then sleeps until a changes. On a busy machine,
// or with more members than cores, a sleeping waiter leaves the core to the
// member it waits for instead of spinning away its share.
constexpr int SPINS = 4000;
template <class Ready>
void wait_until(const std::atomic<int>& a, Ready ready, int spin_count = SPINS) {
    for (int spins = 0; spins < spin_count; ++spins)
        if (ready(a.load(std::memory_order_acquire))) return;
    for (int seen = a.load(std::memory_order_acquire); !ready(seen); seen = a.load(std::memory_order_acquire))
        a.wait(seen, std::memory_order_acquire);
}

double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double (*clock_seconds)() = steady_seconds;

Pace pace;

void work_loop(int member) {
    int seen = 0;
    for (;;) {
        wait_until(phase_number, [&](int phase) { return phase != seen; });
        seen = phase_number.load(std::memory_order_acquire);
        if (leaving.load(std::memory_order_relaxed)) return;
        phase_work(phase_context, member);
        members_done.fetch_add(1, std::memory_order_release);
        members_done.notify_all();
    }
}

}  // namespace

void start(int members) {
    stop();
    member_count = std::clamp(members, 1, MAX_MEMBERS);
    meeting_spins = static_cast<unsigned>(member_count) <= std::thread::hardware_concurrency() ? MEETING_SPINS : SPINS;
    leaving.store(false);
    for (PlaneMarks& marks : plane_marks)
        for (std::atomic<int>& p : marks.phase) p.store(0, std::memory_order_relaxed);
    phase_number.store(0);
    members_met.store(0);
    pace = Pace{};
    workers.reserve(member_count - 1);
    for (int m = 0; m < member_count - 1; ++m) workers.emplace_back(work_loop, m);
}

int members() { return member_count; }

void run(Phase work, void* context) {
    phase_work = work;
    phase_context = context;
    members_done.store(0, std::memory_order_relaxed);
    const int phase = phase_number.load(std::memory_order_relaxed) + 1;
    phase_number.store(phase, std::memory_order_release);
    phase_number.notify_all();
    work(context, member_count - 1);
    const int others = member_count - 1;
    wait_until(members_done, [&](int done) { return done == others; });
}

void run_paced(Phase work, void* context) {
    if (member_count == 1) {
        work(context, 0);
        return;
    }
    const bool on_team = pace.team_next();
    const double start = clock_seconds();
    if (on_team) {
        run(work, context);
    } else {
        for (int m = 0; m < member_count; ++m) work(context, m);
    }
    pace.record(on_team, clock_seconds() - start);
}

bool Pace::team_next() const {
    const bool faster = team < 0.0 || (alone >= 0.0 && team <= alone);
    return team >= 0.0 && alone >= 0.0 && calls % 16 == 15 ? !faster : faster;
}

void Pace::record(bool on_team, double cost) {
    (on_team ? team : alone) = cost;
    ++calls;
}

double seconds() { return clock_seconds(); }

void stop() {
    if (!workers.empty()) {
        leaving.store(true, std::memory_order_relaxed);
        phase_number.fetch_add(1, std::memory_order_release);
        phase_number.notify_all();
        for (std::thread& w : workers) w.join();
        workers.clear();
    }
    member_count = 1;
}

void finish_plane(int member, int plane) {
    std::atomic<int>& mark = plane_marks[member].phase[plane];
    mark.store(phase_number.load(std::memory_order_relaxed), std::memory_order_release);
    mark.notify_all();
}

void wait_for_plane(int member, int plane) {
    if (member == 0) return;
    const int phase = phase_number.load(std::memory_order_relaxed);
    wait_until(plane_marks[member - 1].phase[plane], [&](int done) { return done >= phase; });
}

void meet() {
    if (member_count == 1) return;
    const int held = meetings_held.load(std::memory_order_acquire);
    if (members_met.fetch_add(1, std::memory_order_acq_rel) == member_count - 1) {
        // The last to come ends the meeting; the count is back at 0 before
        // anyone can see the meeting ended and come to the next.
        members_met.store(0, std::memory_order_relaxed);
        meetings_held.store(held + 1, std::memory_order_release);
        meetings_held.notify_all();
        return;
    }
    wait_until(meetings_held, [&](int now) { return now != held; }, meeting_spins);
}

void use_clock(double (*seconds)()) { clock_seconds = seconds != nullptr ? seconds : steady_seconds; }

void reset() { stop(); }

}  // namespace thread_team
