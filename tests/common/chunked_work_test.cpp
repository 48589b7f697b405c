#include "common/chunked_work.hpp"

#include "common/fatal_error.hpp"

#include <gtest/gtest.h>

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

// The paced pass runs every chunk once whichever way it goes, and turns to
// the calling thread alone once the threads were slower than one thread
// would have been. Here a worker's chunk sleeps 20 ms, as a thread does that
// waits to be scheduled on a busy machine, while the caller's takes 0.2 ms:
// after the first pass on the threads the next Pace::ALONE_PASSES run alone,
// then the threads are tried again.
namespace {
std::thread::id caller_thread;
std::atomic<int> chunks_on_workers{0};
void slow_on_workers(void* context, int c) {
    if (std::this_thread::get_id() != caller_thread) {
        ++chunks_on_workers;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } else {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    run_pass_chunk(context, c);
}
// Runs 2·(Pace::ALONE_PASSES + 1) paced passes of 16 chunks on two threads,
// checks that each ran every chunk once, and returns the calls in which a
// worker ran any chunk.
std::vector<int> calls_on_workers(ChunkBody body, Pace& pace) {
    const int chunks = 16;
    std::vector<int> calls;
    for (int call = 0; call < 2 * (Pace::ALONE_PASSES + 1); ++call) {
        std::vector<std::atomic<int>> visits(chunks);
        const std::vector<double> values(chunks * 3, 1.0);
        Pass pass{&values, 3, std::vector<double>(chunks), std::vector<std::vector<double>>(chunks), &visits};
        chunks_on_workers = 0;
        run_chunks_paced(chunks, 2, body, &pass, pace);
        for (int c = 0; c < chunks; ++c) EXPECT_EQ(visits[c].load(), 1) << "call " << call << ", chunk " << c;
        if (chunks_on_workers > 0) calls.push_back(call);
    }
    return calls;
}
}  // namespace

TEST(ChunkedWork, PacedPassesRunEveryChunkOnceAndTurnToTheCallerWhenTheThreadsWait) {
    caller_thread = std::this_thread::get_id();
    Pace pace;
    const std::vector<int> passes_on_workers = calls_on_workers(slow_on_workers, pace);
    // The calls on the threads: the first, and the retry after each spell alone
    // (a worker that woke too late for any chunk leaves one out).
    ASSERT_GE(passes_on_workers.size(), 1u);
    ASSERT_LE(passes_on_workers.size(), 2u);
    for (int call : passes_on_workers) EXPECT_EQ(call % (Pace::ALONE_PASSES + 1), 0) << call;
}

// Threads that stay busy but are slow together, as two threads are that
// share too little memory bandwidth for a sweep over the mesh: every chunk
// takes 3 ms of processor time while a worker has joined the pass, 0.1 ms
// alone. With time_alone the first pass runs alone and is timed; the
// threaded pass after it takes longer per chunk, so the next passes run
// alone, and the threads are tried again.
namespace {
void spin_for(std::chrono::microseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
    }
}
void slow_together(void* context, int c) {
    if (std::this_thread::get_id() != caller_thread) ++chunks_on_workers;
    spin_for(chunks_on_workers > 0 ? std::chrono::microseconds(3000) : std::chrono::microseconds(100));
    run_pass_chunk(context, c);
}
}  // namespace

TEST(ChunkedWork, PacedPassesTurnToTheCallerWhenBusyThreadsAreSlowerThanItAlone) {
    caller_thread = std::this_thread::get_id();
    Pace pace;
    pace.time_alone = true;
    const std::vector<int> passes_on_workers = calls_on_workers(slow_together, pace);
    ASSERT_GE(passes_on_workers.size(), 1u);
    ASSERT_LE(passes_on_workers.size(), 2u);
    for (int call : passes_on_workers) EXPECT_EQ(call % (Pace::ALONE_PASSES + 1), 1) << call;
}
