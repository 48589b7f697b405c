#pragma once
// The driver of a red-black relaxation sweep over the rows of the mesh,
// shared among threads with a result that does not depend on their number.
// Each half-sweep (colour 0, then 1) relaxes only nodes whose neighbours are
// all of the other colour, so its rows may go to any thread in any order;
// each row records its own sum and largest change, and the sweep adds them
// colour by colour in row order.
#include "common/chunked_work.hpp"

namespace red_black_sweep {

constexpr int CHUNK_ROWS = 45;  // rows per chunk

// relax_colour_rows(&colour, chunk) relaxes the nodes of that colour in the
// rows of the chunk (chunked_work::chunk_range(chunk, rows, CHUNK_ROWS)) and
// writes row_sum[colour·rows + row] and row_largest[colour·rows + row].
// Returns the sweep's sum and largest change.
void sweep(int rows, int threads, chunked_work::ChunkBody relax_colour_rows, chunked_work::Pace& pace,
           const double* row_sum, const double* row_largest, double& sum, double& largest);

}  // namespace red_black_sweep
