#include "common/chunked_work.hpp"

#include "common/fatal_error.hpp"

#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace chunked_work;

namespace {

constexpr int THREAD_COUNTS[] = {1, 2, 3, 8};

// Values over many decades, so that the order of a floating-point sum shows in
// its last bits.
std::vector<double> spread_values(int n) {
    std::vector<double> v(n);
    std::uint64_t x = 88172645463325252ULL;
    for (int i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        v[i] = std::ldexp(static_cast<double>(x >> 11), -53 + static_cast<int>(x % 40) - 20);
    }
    return v;
}

// A pass in the shape the movers will take: each chunk sums its records and
// appends a "birth" for every record above a threshold, into its own buffers.
struct Pass {
    const std::vector<double>* values;
    int chunk_size;
    std::vector<double> partial;                 // per chunk
    std::vector<std::vector<double>> births;     // per chunk
    std::vector<std::atomic<int>>* visits = nullptr;
};

void run_pass_chunk(void* context, int c) {
    Pass& pass = *static_cast<Pass*>(context);
    const Range r = chunk_range(c, static_cast<int>(pass.values->size()), pass.chunk_size);
    double sum = 0;
    for (int i = r.begin; i < r.end; ++i) {
        const double v = (*pass.values)[i];
        sum += v;
        if (v > 1e3) pass.births[c].push_back(v * 0.5);
    }
    pass.partial[c] = sum;
    if (pass.visits) ++(*pass.visits)[c];
}

struct PassResult {
    double sum;
    std::vector<double> births;
};

PassResult run_pass(const std::vector<double>& values, int chunk_size, int threads) {
    const int chunks = chunk_count(static_cast<int>(values.size()), chunk_size);
    Pass pass{&values, chunk_size, std::vector<double>(chunks, 0.0), std::vector<std::vector<double>>(chunks)};
    run_chunks(chunks, threads, run_pass_chunk, &pass);
    PassResult result{0.0, {}};
    for (int c = 0; c < chunks; ++c) {
        result.sum += pass.partial[c];
        result.births.insert(result.births.end(), pass.births[c].begin(), pass.births[c].end());
    }
    return result;
}

}  // namespace

TEST(ChunkedWork, ChunksTileTheRecordsExactlyWhateverTheirNumber) {
    EXPECT_EQ(chunk_count(0, 100), 0);
    EXPECT_EQ(chunk_count(1, 100), 1);
    EXPECT_EQ(chunk_count(100, 100), 1);
    EXPECT_EQ(chunk_count(101, 100), 2);
    for (int records : {1, 99, 100, 101, 1000, 12345}) {
        const int chunks = chunk_count(records, 100);
        int next = 0;
        for (int c = 0; c < chunks; ++c) {
            const Range r = chunk_range(c, records, 100);
            ASSERT_EQ(r.begin, next) << records;
            ASSERT_GT(r.end, r.begin) << records;
            ASSERT_LE(r.end - r.begin, 100);
            next = r.end;
        }
        EXPECT_EQ(next, records);
    }
}

TEST(ChunkedWork, EveryChunkRunsExactlyOnceForAnyThreadCount) {
    for (int chunks : {0, 1, 2, 7, 64, 1000}) {
        for (int threads : THREAD_COUNTS) {
            std::vector<std::atomic<int>> visits(chunks);
            const std::vector<double> values(static_cast<std::size_t>(chunks) * 3, 1.0);
            Pass pass{&values, 3, std::vector<double>(chunks), std::vector<std::vector<double>>(chunks), &visits};
            run_chunks(chunks, threads, run_pass_chunk, &pass);
            for (int c = 0; c < chunks; ++c)
                ASSERT_EQ(visits[c].load(), 1) << chunks << " chunks, " << threads << " threads, chunk " << c;
        }
    }
}

TEST(ChunkedWork, SumsAndBirthsMergedInChunkOrderAreBitIdenticalForOneTwoThreeAndEightThreads) {
    const std::vector<double> values = spread_values(200003);
    const PassResult one = run_pass(values, 1024, 1);
    ASSERT_FALSE(one.births.empty());
    for (int threads : THREAD_COUNTS) {
        for (int repeat = 0; repeat < 3; ++repeat) {
            const PassResult many = run_pass(values, 1024, threads);
            EXPECT_EQ(std::memcmp(&many.sum, &one.sum, sizeof(double)), 0) << threads << " threads";
            EXPECT_EQ(many.births, one.births) << threads << " threads";
        }
    }
    // The data are order-sensitive: cutting the same records into one piece per
    // thread instead of fixed chunks gives another sum, which is what the fixed
    // chunk size prevents.
    EXPECT_NE(run_pass(values, (200003 + 7) / 8, 8).sum, one.sum);
}

TEST(ChunkedWork, TheLowestFailingChunksErrorIsTheOneReported) {
    struct Failing {
        std::atomic<int> ran{0};
    };
    auto body = [](void* context, int c) {
        ++static_cast<Failing*>(context)->ran;
        if (c == 37 || c == 90 || c == 200) pdp::fatal("chunk " + std::to_string(c) + " failed");
    };
    for (int threads : THREAD_COUNTS) {
        Failing failing;
        try {
            run_chunks(256, threads, body, &failing);
            ADD_FAILURE() << "no error with " << threads << " threads";
        } catch (const pdp::FatalError& e) {
            EXPECT_EQ(std::string(e.what()), "chunk 37 failed\n") << threads << " threads";
        }
        EXPECT_GE(failing.ran.load(), 38);
    }
    // A lower chunk that fails later in time still wins over a higher one
    // that failed first.
    auto slow_low = [](void*, int c) {
        if (c == 5) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            pdp::fatal("slow chunk 5 failed");
        }
        if (c == 6) pdp::fatal("fast chunk 6 failed");
    };
    for (int threads : THREAD_COUNTS) {
        try {
            run_chunks(8, threads, slow_low, nullptr);
            ADD_FAILURE() << "no error with " << threads << " threads";
        } catch (const pdp::FatalError& e) {
            EXPECT_EQ(std::string(e.what()), "slow chunk 5 failed\n") << threads << " threads";
        }
    }
}

// The pacing rule on a clock the chunks move themselves: each chunk adds its
// wall time to one count for the pass and its processor time to the running
// thread's own, so that a pass's times do not depend on which thread ran
// which chunk, nor on the machine.
namespace {
std::atomic<long> wall_us{0};
thread_local long thread_us = 0;
double test_wall_seconds() { return 1e-6 * static_cast<double>(wall_us.load()); }
double test_thread_seconds() { return 1e-6 * static_cast<double>(thread_us); }
const PaceClock test_clock{test_wall_seconds, test_thread_seconds};

// What one chunk costs, in microseconds: wall time alone, and wall and
// processor time when the threads run the pass.
struct ChunkCosts {
    long alone, threaded_wall, threaded_busy;
};
ChunkCosts costs;
void costed_chunk(void* context, int c) {
    const bool threaded = omp_in_parallel() != 0;
    wall_us += threaded ? costs.threaded_wall : costs.alone;
    thread_us += threaded ? costs.threaded_busy : costs.alone;
    run_pass_chunk(context, c);
}

// Runs `calls` paced passes of `chunks` chunks on two threads, checks that
// each ran every chunk once, and returns the calls the threads ran.
std::vector<int> threaded_calls(ChunkCosts chunk_costs, bool time_alone, int calls, int chunks = 16) {
    costs = chunk_costs;
    Pace pace;
    pace.time_alone = time_alone;
    pace.clock = &test_clock;
    std::vector<int> threaded;
    for (int call = 0; call < calls; ++call) {
        std::vector<std::atomic<int>> visits(chunks);
        const std::vector<double> values(chunks * 3, 1.0);
        Pass pass{&values, 3, std::vector<double>(chunks), std::vector<std::vector<double>>(chunks), &visits};
        const long before = wall_us;
        run_chunks_paced(chunks, 2, costed_chunk, &pass, pace);
        for (int c = 0; c < chunks; ++c) EXPECT_EQ(visits[c].load(), 1) << "call " << call << ", chunk " << c;
        if (wall_us - before != chunks * costs.alone) threaded.push_back(call);
    }
    return threaded;
}

std::vector<int> every_call_but(int calls, std::vector<int> left_out) {
    std::vector<int> kept;
    for (int call = 0; call < calls; ++call)
        if (std::find(left_out.begin(), left_out.end(), call) == left_out.end()) kept.push_back(call);
    return kept;
}
}  // namespace

// Threads whose pass takes longer than the processor time they spent on it
// waited to be scheduled, as on a busy machine: the next Pace::ALONE_PASSES
// passes run on the caller alone, then the threads are tried again. Threads
// that kept busy stay, and so do threads on a pass of fewer than four chunks
// each, which wait for each other's wake-up whatever the machine.
TEST(ChunkedWork, PacedPassesTurnToTheCallerAloneWhileTheThreadsWaitToBeScheduled) {
    const int again = Pace::ALONE_PASSES + 1;
    const ChunkCosts waiting{200, 10000, 200}, busy{200, 100, 200};
    EXPECT_EQ(threaded_calls(waiting, false, 2 * again + 1), (std::vector<int>{0, again, 2 * again}));
    EXPECT_EQ(threaded_calls(busy, false, 40), every_call_but(40, {}));
    EXPECT_EQ(threaded_calls(waiting, false, 40, 7), every_call_but(40, {}));
}

// With time_alone the first pass runs alone and is timed. Threads that stay
// busy but are slower per chunk than the caller alone, as two threads sharing
// too little memory bandwidth for a sweep over the mesh, send the next
// Pace::ALONE_PASSES passes to the caller; faster ones keep the passes, but
// every Pace::PROBE_EVERY-th is timed alone again.
TEST(ChunkedWork, PacedPassesTimedAloneGoToWhicheverWayIsFaster) {
    const int again = Pace::ALONE_PASSES + 1;
    const ChunkCosts slower{100, 3000, 6000}, faster{200, 100, 200};
    EXPECT_EQ(threaded_calls(slower, true, 2 * again + 2), (std::vector<int>{1, again + 1, 2 * again + 1}));
    const int probe = Pace::PROBE_EVERY + 1;
    EXPECT_EQ(threaded_calls(faster, true, 2 * probe + 1), every_call_but(2 * probe + 1, {0, probe, 2 * probe}));
}
