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

// How one kind of pass has lately fared on the threads and on the calling
// thread alone, in seconds per chunk; negative until tried.
struct Pace {
    double team = -1.0;
    double alone = -1.0;
    long long calls = 0;
};
// run_chunks on `threads` threads or on the calling thread alone, whichever
// has lately been faster for this pace; the result is the same. The first
// two passes of at least four chunks per thread try each way; after that the
// threads are kept unless they were 25 % slower per chunk, and the other way
// is tried again every 64th such pass on the threads, every 16th alone. On an
// idle machine the threads win; on one so busy that they keep waiting to be
// scheduled (other runs on every core), the caller alone does.
void run_chunks_paced(int chunks, int threads, ChunkBody body, void* context, Pace& pace);

// The machine's cores, or 1 if the system does not tell.
int default_thread_count();

}  // namespace chunked_work
