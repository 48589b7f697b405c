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

// Which sweeps keep the values before them (phi_prev) for a geometric tail,
// the sum of the corrections still to come once the change of phi shrinks by
// a steady ratio from sweep to sweep. Keeping them in every sweep would be a
// third of a red-black sweep's memory traffic, which the threads share. A
// sweep keeps them once the ratio has settled to within NEARLY_STEADY, well
// before the tail's own test passes, so the tails come at the same sweeps as
// if every sweep kept them; should the test pass after a sweep that did not,
// the tail is owed, and follows the next sweep, which keeps them.
struct TailPlan {
    static constexpr double NEARLY_STEADY = 1e-2;
    bool keep_previous = false;  // the coming sweep keeps phi_prev
    bool tail_owed = false;

    void start() { keep_previous = tail_owed = false; }
    // After a sweep whose ratio of changes moved by `drift` (relative) from the
    // sweep before: whether to add the tail now, the test being drift <= steady.
    bool after_sweep(double drift, double steady) {
        const bool tail_now = keep_previous && (drift <= steady || tail_owed);
        tail_owed = drift <= steady && !keep_previous;
        keep_previous = tail_owed || drift <= NEARLY_STEADY;
        return tail_now;
    }
};

}  // namespace red_black_sweep
