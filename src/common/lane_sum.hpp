#pragma once
// A sum over a run of terms in four lanes: term t of the run into lane t % 4,
// the last few into lanes 0, 1, 2, and the lanes added as (0 + 1) + (2 + 3).
// A plain sum is one chain of additions, each waiting for the one before;
// four chains let a pass over a row run at the pace of its memory instead.
// The same run of terms gives the same bits wherever the run is summed.
//
// Header only: the lanes must stay in registers in the callers' loops.
namespace lane_sum {

// The sum of term(n, lane) for n = first..last; term is called once for
// each n, in order, and told the lane its term goes to (a constant once
// inlined), for other work of its own kept in lanes too.
template <class Term>
[[gnu::always_inline]] inline double sum(int first, int last, Term&& term) {
    double lane0 = 0.0, lane1 = 0.0, lane2 = 0.0, lane3 = 0.0;
    int n = first;
    for (; n + 3 <= last; n += 4) {
        lane0 += term(n, 0);
        lane1 += term(n + 1, 1);
        lane2 += term(n + 2, 2);
        lane3 += term(n + 3, 3);
    }
    if (n <= last) lane0 += term(n++, 0);
    if (n <= last) lane1 += term(n++, 1);
    if (n <= last) lane2 += term(n, 2);
    return (lane0 + lane1) + (lane2 + lane3);
}

}  // namespace lane_sum
