#pragma once
// The sum and the largest of a sequence of changes |r|, added strictly in
// the sequence's order while a sweep is still producing them. A relaxation
// sweep records each node's change at the node's place in the order that
// fixes the sum's rounding; whoever keeps the tally adds a few changes after
// each node or step of its own work, never past those already final. The
// chain of additions, each waiting on the one before, then overlaps with the
// relaxation instead of following it, and the sum has the same bits as one
// taken in a plain loop over the sequence.
//
// Header only: the additions must be inlined into the sweeps' loops.
#include <algorithm>

namespace ordered_sum {

struct Tally {
    double sum = 0.0, largest = 0.0;
    const double* next = nullptr;   // the next change to add
    const double* ready = nullptr;  // the changes before this one are final
    int per_step = 0;               // changes added by add_some(); 0: none

    // Starts a sweep's tally over the changes from `first` on.
    void begin(const double* first, int changes_per_step) {
        sum = 0.0;
        largest = 0.0;
        next = ready = first;
        per_step = changes_per_step;
    }
    [[gnu::always_inline]] void add_until(const double* end) {
        for (; next < end; ++next) {
            sum = sum + *next;
            largest = std::max(largest, *next);
        }
    }
    [[gnu::always_inline]] void add_some() { add_until(std::min(next + per_step, ready)); }
};

}  // namespace ordered_sum
