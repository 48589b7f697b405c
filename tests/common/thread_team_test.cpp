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

// A paced call runs every member once whether it runs on the team or on the
// caller alone, and in both the planes keep their order. The first two calls
// try each way; twenty calls see both.
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
