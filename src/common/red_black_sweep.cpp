#include "common/red_black_sweep.hpp"

#include <algorithm>

namespace red_black_sweep {

void sweep(int rows, int threads, chunked_work::ChunkBody relax_colour_rows, chunked_work::Pace& pace,
           const double* row_sum, const double* row_largest, double& sum, double& largest) {
    const int chunks = chunked_work::chunk_count(rows, CHUNK_ROWS);
    for (int colour : {0, 1}) chunked_work::run_chunks_paced(chunks, threads, relax_colour_rows, &colour, pace);
    sum = 0.0;
    largest = 0.0;
    for (int m = 0; m < 2 * rows; ++m) {
        sum += row_sum[m];
        largest = std::max(largest, row_largest[m]);
    }
}

}  // namespace red_black_sweep
