#include "common/chunked_work.hpp"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <exception>
#include <thread>

namespace chunked_work {

int chunk_count(int records, int chunk_size) {
    if (records <= 0) return 0;
    return (records + chunk_size - 1) / chunk_size;
}

Range chunk_range(int chunk, int records, int chunk_size) {
    const int begin = chunk * chunk_size;
    return {begin, std::min(records, begin + chunk_size)};
}

namespace {

double steady_seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double thread_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

}  // namespace

const PaceClock system_clock{steady_seconds, thread_cpu_seconds};

namespace {

// The chunks on `threads` threads (at least 2), dealt as they come or, with
// `fixed`, in the same contiguous share to each thread every time; returns
// the processor time the threads spent on them on `clock`, if `busy_time` is
// asked for.
void run_on_threads(int chunks, int threads, ChunkBody body, void* context, bool fixed, const PaceClock* clock,
                    double* busy_time) {
    // An exception must not leave a parallel region; each chunk's is caught
    // and the lowest chunk's kept. Chunks after a failed one are skipped, as a
    // serial pass would never reach them.
    int failed_chunk = chunks;
    std::exception_ptr failure;
    const auto run_one = [&](int c) {
        int first_failure;
#pragma omp atomic read
        first_failure = failed_chunk;
        if (c > first_failure) return;
        try {
            body(context, c);
        } catch (...) {
#pragma omp critical(chunked_work_failure)
            if (c < failed_chunk) {
#pragma omp atomic write
                failed_chunk = c;
                failure = std::current_exception();
            }
        }
    };
    double busy = 0.0;
#pragma omp parallel num_threads(threads) reduction(+ : busy)
    {
        const double start = busy_time != nullptr ? clock->thread_seconds() : 0.0;
        if (fixed) {
#pragma omp for schedule(static) nowait
            for (int c = 0; c < chunks; ++c) run_one(c);
        } else {
#pragma omp for schedule(dynamic, 1) nowait
            for (int c = 0; c < chunks; ++c) run_one(c);
        }
        if (busy_time != nullptr) busy += clock->thread_seconds() - start;
    }
    if (busy_time != nullptr) *busy_time = busy;
    if (failure) std::rethrow_exception(failure);
}

}  // namespace

void run_chunks(int chunks, int threads, ChunkBody body, void* context) {
    // More threads than chunks would only wait; one chunk needs no team.
    threads = std::min(threads, chunks);
    if (threads <= 1) {
        for (int c = 0; c < chunks; ++c) body(context, c);
        return;
    }
    run_on_threads(chunks, threads, body, context, false, nullptr, nullptr);
}

void run_chunks_paced(int chunks, int threads, ChunkBody body, void* context, Pace& pace) {
    threads = std::min(threads, chunks);
    const double start = pace.clock->wall_seconds();
    auto seconds_per_chunk = [&] { return (pace.clock->wall_seconds() - start) / chunks; };
    if (threads <= 1) {
        run_chunks(chunks, 1, body, context);
        return;
    }
    const bool probe = pace.time_alone && (pace.alone_per_chunk < 0.0 || pace.threaded_passes >= Pace::PROBE_EVERY);
    if (pace.alone_passes > 0 || probe) {
        if (pace.alone_passes > 0) --pace.alone_passes;
        run_chunks(chunks, 1, body, context);
        if (pace.time_alone) pace.alone_per_chunk = Pace::average(pace.alone_per_chunk, seconds_per_chunk());
        pace.threaded_passes = 0;
        return;
    }
    double busy = 0.0;
    run_on_threads(chunks, threads, body, context, pace.fixed_shares, pace.clock, &busy);
    const double per_chunk = seconds_per_chunk();
    // A pass faster than the caller alone counts at once: the threads are
    // worth it again.
    pace.threaded_per_chunk =
        per_chunk <= pace.alone_per_chunk ? per_chunk : Pace::average(pace.threaded_per_chunk, per_chunk);
    ++pace.threaded_passes;
    // The processor time the threads spent on the chunks is about what one
    // thread alone would have taken. Threads that took longer than that kept
    // waiting: for each other's wake-up on a pass of a few chunks, or to be
    // scheduled on a busy machine. The latter makes the next passes alone.
    if (chunks >= 4 * threads && per_chunk * chunks > busy) pace.alone_passes = Pace::ALONE_PASSES;
    if (pace.time_alone && pace.threaded_per_chunk > pace.alone_per_chunk) pace.alone_passes = Pace::ALONE_PASSES;
}

int default_thread_count() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

}  // namespace chunked_work
