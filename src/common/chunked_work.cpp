#include "common/chunked_work.hpp"

#include <algorithm>
#include <chrono>
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

void run_chunks(int chunks, int threads, ChunkBody body, void* context) {
    // More threads than chunks would only wait; one chunk needs no team.
    threads = std::min(threads, chunks);
    if (threads <= 1) {
        for (int c = 0; c < chunks; ++c) body(context, c);
        return;
    }
    // An exception must not leave a parallel region; each chunk's is caught
    // and the lowest chunk's kept. Chunks after a failed one are skipped, as a
    // serial pass would never reach them.
    int failed_chunk = chunks;
    std::exception_ptr failure;
#pragma omp parallel for num_threads(threads) schedule(dynamic, 1)
    for (int c = 0; c < chunks; ++c) {
        int first_failure;
#pragma omp atomic read
        first_failure = failed_chunk;
        if (c > first_failure) continue;
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
    }
    if (failure) std::rethrow_exception(failure);
}

void run_chunks_paced(int chunks, int threads, ChunkBody body, void* context, Pace& pace) {
    if (threads <= 1 || chunks <= 1) {
        run_chunks(chunks, 1, body, context);
        return;
    }
    // The threads stay in use unless they have lately been clearly slower;
    // the caller alone tries the threads again soon, the threads try it
    // seldom, as that trial costs a pass at the single-thread speed.
    bool on_team;
    if (pace.team < 0.0) {
        on_team = true;
    } else if (pace.alone < 0.0) {
        on_team = false;
    } else {
        on_team = pace.team <= 1.25 * pace.alone;
        if (pace.calls % (on_team ? 64 : 16) == 15) on_team = !on_team;
    }
    const auto start = std::chrono::steady_clock::now();
    run_chunks(chunks, on_team ? threads : 1, body, context);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // A pass of a few chunks says little: on the threads it is mostly their
    // wake-up. Only passes that give every thread several chunks count.
    if (chunks >= 4 * threads) {
        (on_team ? pace.team : pace.alone) = seconds / chunks;
        ++pace.calls;
    }
}

int default_thread_count() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

}  // namespace chunked_work
