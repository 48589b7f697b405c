#pragma once
// Work shared among threads with a result that does not depend on how many
// threads there are. A pass over n records is cut into chunks whose bounds
// depend only on n and a fixed chunk size; each chunk writes only its own
// buffers (births, wall deposits, counters); the caller then merges the
// buffers in chunk order. Any sum is so taken in the same order for 1 or 64
// threads, and the thread count decides only which thread runs which chunk.
namespace chunked_work {

// Records [begin, end) of a chunk, counted from 0.
struct Range {
    int begin;
    int end;
};

int chunk_count(int records, int chunk_size);
Range chunk_range(int chunk, int records, int chunk_size);

// Runs body(context, c) once for every chunk c in [0, chunks) on `threads`
// threads (1 or less: in order on the calling thread). If chunks fail, the
// failure of the lowest-numbered one is rethrown after all have stopped: the
// same error a serial pass would have met first. (A fatal error prints its
// message as it is raised, so several failing chunks print several messages;
// the exception, and so the exit, is the lowest chunk's.)
using ChunkBody = void (*)(void* context, int chunk);
void run_chunks(int chunks, int threads, ChunkBody body, void* context);

// Where a paced pass reads the time: wall seconds on a monotonic clock, and
// the processor seconds the calling thread has used. The program keeps
// system_clock; tests give a Pace a clock of their own.
struct PaceClock {
    double (*wall_seconds)();
    double (*thread_seconds)();
};
extern const PaceClock system_clock;

// Whether one kind of pass has lately been faster on the calling thread alone.
struct Pace {
    static constexpr int ALONE_PASSES = 16;  // passes alone before the threads try again
    static constexpr int PROBE_EVERY = 64;   // threaded passes between two timed passes alone
    int alone_passes = 0;
    // Each thread takes the same contiguous share of the chunks every pass, so
    // that passes over the same data find it in the same core's cache (the
    // potential's half-sweeps); otherwise chunks go to whichever thread is free.
    bool fixed_shares = false;
    // Time a pass alone now and then and keep to the caller while it is the
    // faster: for sweeps over the mesh, which two threads may share too
    // little memory bandwidth to speed up.
    bool time_alone = false;
    // Wall seconds per chunk of the passes alone and on the threads, each a
    // running mean over the last several passes so that one slow pass (the
    // first after the caller alone touched the data, or the one that starts
    // the threads) does not decide; a threaded pass faster than the passes
    // alone replaces its mean (negative: none yet). Threaded passes since the
    // latest pass alone.
    double alone_per_chunk = -1.0, threaded_per_chunk = -1.0;
    int threaded_passes = 0;
    static double average(double mean, double latest) { return mean < 0.0 ? latest : mean + (latest - mean) / 8.0; }
    const PaceClock* clock = &system_clock;
};
// run_chunks on `threads` threads, or on the calling thread alone for a while
// after the threads were slower than one thread would have been. Either
// after a pass of at least four chunks per thread that took longer than the
// processor time its threads spent on the chunks, as when other runs on
// every core keep them waiting to be scheduled; or, with time_alone, once the
// threaded passes take longer per chunk than the passes alone, which the
// first pass and every PROBE_EVERY-th threaded pass are. The result is the same
// either way; an idle machine keeps the threads.
void run_chunks_paced(int chunks, int threads, ChunkBody body, void* context, Pace& pace);

// The machine's cores, or 1 if the system does not tell.
int default_thread_count();

}  // namespace chunked_work
