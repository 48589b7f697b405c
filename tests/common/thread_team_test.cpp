#include "common/thread_team.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int PLANES = 11;

// A pipelined phase that logs, on one shared clock, when each member starts
// and ends each plane. The lower members dawdle, so a member that does not
// wait for the one below it overtakes it.
struct PipelineLog {
    int members = 0;
    std::atomic<int> clock{0};
    std::vector<int> started, ended;  // [member · PLANES + plane]
    std::vector<int> calls;           // per member, in the latest phase

    explicit PipelineLog(int m) : members(m), started(m * PLANES), ended(m * PLANES), calls(m) {}

    static void phase(void* context, int member) {
        PipelineLog& log = *static_cast<PipelineLog*>(context);
        ++log.calls[member];
        for (int p = 0; p < PLANES; ++p) {
            thread_team::wait_for_plane(member, p);
            log.started[member * PLANES + p] = log.clock++;
            if (member < log.members - 1 && p % 3 == member % 3)
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            log.ended[member * PLANES + p] = log.clock++;
            thread_team::finish_plane(member, p);
        }
    }

    // After call number `call`: every member ran it once and took each plane
    // after the member below had finished it.
    testing::AssertionResult ran_in_order(int call) const {
        for (int m = 0; m < members; ++m) {
            if (calls[m] != call)
                return testing::AssertionFailure() << "member " << m << " of " << members << " ran " << calls[m] << " times";
            for (int p = 0; p < PLANES && m > 0; ++p)
                if (started[m * PLANES + p] <= ended[(m - 1) * PLANES + p])
                    return testing::AssertionFailure() << "member " << m << " of " << members << " took plane " << p
                                                       << " before member " << m - 1 << " finished it";
        }
        return testing::AssertionSuccess();
    }
};

}  // namespace

// Every member runs every phase once, and takes a plane only after the member
// below it has finished that plane, in later phases too (whose marks must not
// be mistaken for those of earlier ones). Eight members on a two-core machine
// must get through as well.
TEST(ThreadTeam, EveryMemberRunsEachPhaseAndWaitsForThePlaneBelow) {
    for (int members : {1, 2, 3, 8}) {
        thread_team::Scope team(members);
        ASSERT_EQ(thread_team::members(), members);
        PipelineLog log(members);
        for (int phase = 1; phase <= 3; ++phase) {
            thread_team::run(PipelineLog::phase, &log);
            ASSERT_TRUE(log.ran_in_order(phase)) << "phase " << phase;
        }
    }
    EXPECT_EQ(thread_team::members(), 1);
}

// No member passes a meeting before every member has come to it, meeting
// after meeting: each adds to a count before it and reads the count after,
// while one member in turn dawdles before coming.
TEST(ThreadTeam, NoMemberPassesAMeetingBeforeAllHaveCome) {
    constexpr int MEETINGS = 20;
    for (int members : {1, 2, 3, 8}) {
        thread_team::Scope team(members);
        struct Count {
            int members;
            std::atomic<int> arrived{0}, early{0};
        } count{members};
        thread_team::run(
            [](void* context, int member) {
                Count& c = *static_cast<Count*>(context);
                for (int meeting = 1; meeting <= MEETINGS; ++meeting) {
                    if (member == meeting % c.members) std::this_thread::sleep_for(std::chrono::microseconds(100));
                    c.arrived.fetch_add(1);
                    thread_team::meet();
                    if (c.arrived.load() < meeting * c.members) c.early.fetch_add(1);
                }
            },
            &count);
        EXPECT_EQ(count.early.load(), 0) << members;
        EXPECT_EQ(count.arrived.load(), MEETINGS * members);
    }
}

// A paced call runs every member once whether it runs on the team or on the
// caller alone, and in both the planes keep their order. The first two calls
// try each way.
TEST(ThreadTeam, PacedCallsRunEveryMemberOnceInEitherWay) {
    for (int members : {1, 2, 8}) {
        thread_team::Scope team(members);
        PipelineLog log(members);
        for (int call = 1; call <= 20; ++call) {
            thread_team::run_paced(PipelineLog::phase, &log);
            ASSERT_TRUE(log.ran_in_order(call)) << "call " << call;
        }
    }
}

// Which way a paced call goes, on a clock the phase moves itself: a call on
// the team costs `team` seconds, one on the caller alone `alone`. The first
// call goes to the team and the second to the caller; then the faster way
// keeps the calls, and every 16th tries the other again.
namespace {
double paced_now = 0.0;
double paced_clock() { return paced_now; }
struct CostedCalls {
    double team, alone;
    std::thread::id caller = std::this_thread::get_id();
    int call = 0;
    std::vector<int> on_team;
};
void costed_phase(void* context, int member) {
    CostedCalls& calls = *static_cast<CostedCalls*>(context);
    if (member != 0) return;
    const bool on_team = std::this_thread::get_id() != calls.caller;  // member 0 is a worker's on the team
    paced_now += on_team ? calls.team : calls.alone;
    if (on_team) calls.on_team.push_back(calls.call);
}
std::vector<int> calls_on_team(double team, double alone) {
    thread_team::Scope scope(2);
    CostedCalls calls;
    calls.team = team;
    calls.alone = alone;
    for (calls.call = 0; calls.call < 40; ++calls.call) thread_team::run_paced(costed_phase, &calls);
    return calls.on_team;
}
}  // namespace

TEST(ThreadTeam, PacedCallsKeepToTheFasterWayAndTryTheOtherEverySixteenth) {
    thread_team::use_clock(paced_clock);
    std::vector<int> all_but;
    for (int call = 0; call < 40; ++call)
        if (call != 1 && call != 15 && call != 31) all_but.push_back(call);
    EXPECT_EQ(calls_on_team(1.0, 2.0), all_but);
    EXPECT_EQ(calls_on_team(2.0, 1.0), (std::vector<int>{0, 15, 31}));
    thread_team::use_clock(nullptr);
}

// A team ended by an exception in its scope leaves no thread behind, and a
// new team starts cleanly after it.
TEST(ThreadTeam, AScopeLeftByAnExceptionEndsItsTeam) {
    try {
        thread_team::Scope team(4);
        throw 7;
    } catch (int) {
    }
    EXPECT_EQ(thread_team::members(), 1);
    PipelineLog log(1);
    thread_team::run(PipelineLog::phase, &log);
    EXPECT_EQ(log.calls[0], 1);

    thread_team::Scope team(2);
    PipelineLog log2(2);
    thread_team::run(PipelineLog::phase, &log2);
    EXPECT_EQ(log2.calls[0], 1);
    EXPECT_EQ(log2.calls[1], 1);
}
