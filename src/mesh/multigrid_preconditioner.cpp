#include "mesh/multigrid_preconditioner.hpp"

#include "common/lane_sum.hpp"
#include "common/thread_team.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace multigrid_preconditioner {

using namespace mesh;

namespace {

constexpr int MAX_LEVELS = 16;
// A level of at most this many unknowns is solved exactly (dense Cholesky).
constexpr int DIRECT_LIMIT = 64;
constexpr double JOIN = 2.0;

// A level's interior box, nx·ny·nz unknowns, stored with one layer of
// padding on every side (zero couplings), so a stencil needs no bounds
// tests; level 0's padded box is the mesh itself. join_* tells along which
// axes the next level joins pairs of nodes.
struct Level {
    int nx, ny, nz;
    bool join_x, join_y, join_z;
    int offset;  // of the level's entries in the pooled arrays
    constexpr int step_y() const { return nx + 2; }
    constexpr int step_z() const { return (nx + 2) * (ny + 2); }
    constexpr int padded_size() const { return (nx + 2) * (ny + 2) * (nz + 2); }
    constexpr int unknowns() const { return nx * ny * nz; }
    constexpr int at(int i, int j, int k) const { return offset + i + step_y() * j + step_z() * k; }
};

struct Hierarchy {
    std::array<Level, MAX_LEVELS> level{};
    int count = 0;
    int total = 0;  // pooled entries
};

// Joins along every axis whose spacing is below twice the smallest spacing
// of an axis that can still be joined.
constexpr Hierarchy make_hierarchy() {
    Hierarchy h;
    Level l{NX - 2, NY - 2, NZ - 2, false, false, false, 0};
    double hx = dx, hy = dy, hz = dz;
    while (true) {
        l.offset = h.total;
        h.total += l.padded_size();
        h.level[h.count++] = l;
        if (l.unknowns() <= DIRECT_LIMIT || h.count == MAX_LEVELS) break;
        double smallest = 1e300;
        if (l.nx > 1) smallest = std::min(smallest, hx);
        if (l.ny > 1) smallest = std::min(smallest, hy);
        if (l.nz > 1) smallest = std::min(smallest, hz);
        Level& fine = h.level[h.count - 1];
        fine.join_x = l.nx > 1 && hx < JOIN * smallest;
        fine.join_y = l.ny > 1 && hy < JOIN * smallest;
        fine.join_z = l.nz > 1 && hz < JOIN * smallest;
        if (fine.join_x) l.nx = (l.nx + 1) / 2, hx *= 2.0;
        if (fine.join_y) l.ny = (l.ny + 1) / 2, hy *= 2.0;
        if (fine.join_z) l.nz = (l.nz + 1) / 2, hz *= 2.0;
    }
    return h;
}

constexpr Hierarchy H = make_hierarchy();
static_assert(H.level[0].padded_size() == NODE_COUNT, "level 0 is the mesh");
static_assert(H.level[H.count - 1].unknowns() <= DIRECT_LIMIT, "the coarsest level is solved exactly");

// Per level, in single precision (the cycle streams through these arrays,
// and a preconditioner needs no more digits; the conjugate gradients around
// it stay in double): the couplings to the i − 1, j − 1 and k − 1
// neighbour (1/cm), the diagonal and its inverse, the level's right-hand
// side and its correction (level 0's are the caller's residual and result,
// rounded). The anchors, 1/cm, serve the set-up only.
using real = float;
real couple_x[H.total], couple_y[H.total], couple_z[H.total];
real diagonal[H.total], inv_diagonal[H.total];
real source[H.total], correction[H.total];
double anchor[H.total];
// Cholesky factor of the coarsest level's matrix, row-major lower triangle.
double direct_factor[DIRECT_LIMIT * DIRECT_LIMIT];
double direct_vector[DIRECT_LIMIT];

// Red-black Gauss-Seidel half-sweeps per smoothing, before and after the
// coarse correction: more on the finest level, whose smoothing must reduce
// what the x-only coarsening leaves along y and z.
constexpr int half_sweeps(int level) { return level == 0 ? 6 : 4; }

// Rows j = first..last of every plane of a level.
struct Rows {
    int first, last;
};

// Calls f(i, j, k, n) for every interior node of a level in the rows, k, j,
// i order.
template <class F>
void for_interior(const Level& l, Rows rows, F&& f) {
    for (int k = 1; k <= l.nz; ++k)
        for (int j = rows.first; j <= rows.last; ++j)
            for (int i = 1, n = l.at(1, j, k); i <= l.nx; ++i, ++n) f(i, j, k, n);
}

template <class F>
void for_interior(const Level& l, F&& f) {
    for_interior(l, Rows{1, l.ny}, f);
}

// Coupling of the centres of two neighbouring boxes along an axis: half of
// each box's inner coupling in series with the face between them (an inner
// coupling < 0 marks a box of one node, whose centre is the node).
[[gnu::always_inline]] inline double in_series(double lower_inner, double face, double upper_inner) {
    if (face == 0.0) return 0.0;
    if (lower_inner == 0.0 || upper_inner == 0.0) return 0.0;
    // Half a box's coupling is twice its inner one; 1/(1/a + 1/b + 1/c) over
    // a single division.
    const double a = 2.0 * lower_inner, c = 2.0 * upper_inner;
    if (lower_inner > 0.0 && upper_inner > 0.0) return face * a * c / (a * c + face * (a + c));
    if (lower_inner > 0.0) return face * a / (face + a);
    if (upper_inner > 0.0) return face * c / (face + c);
    return face;
}

// The next level's matrix from this one's couplings, as the flux between
// the boxes' centres: along a joined axis each chain of couplings in series,
// the chains side by side across a face (and along an axis not joined, the
// faces) added. The Galerkin product with piecewise-constant interpolation
// would add the faces alone, twice as stiff along each joined axis, and its
// V-cycle corrects too little; this one keeps a plasma's strong couplings
// inside its boxes and the weak ones at its edge, as the fine level has them.
//
// Made for each level, whose sizes and joined axes are then constants.
template <int INDEX>
void coarsen(Rows boxes) {
    constexpr const Level& f = H.level[INDEX];
    constexpr const Level& c = H.level[INDEX + 1];
    constexpr int sy = f.step_y(), sz = f.step_z();
    // The fine nodes i of box b along an axis: 2b − 1 and 2b (if any) where
    // the axis is joined, else b alone.
    auto first = [](bool join, int b) { return join ? 2 * b - 1 : b; };
    auto last = [](bool join, int b, int fine) { return join ? std::min(2 * b, fine) : b; };
    for_interior(c, boxes, [&](int bi, int bj, int bk, int m) {
        // Summed in double over the box's nodes in the k, j, i order, rounded once.
        double sum_x = 0.0, sum_y = 0.0, sum_z = 0.0, sum_anchor = 0.0;
        for (int k = first(f.join_z, bk); k <= last(f.join_z, bk, f.nz); ++k)
            for (int j = first(f.join_y, bj); j <= last(f.join_y, bj, f.ny); ++j)
                for (int i = first(f.join_x, bi); i <= last(f.join_x, bi, f.nx); ++i) {
                    const int n = f.at(i, j, k);
                    // A node that opens its box (odd index) faces the box below; its
                    // upper neighbour in the box, if any, gives the box's inner coupling.
                    if (!f.join_x) sum_x += couple_x[n];
                    else if (i % 2 == 1 && i > 1)
                        sum_x += in_series(couple_x[n - 1], couple_x[n], i < f.nx ? couple_x[n + 1] : -1.0);
                    if (!f.join_y) sum_y += couple_y[n];
                    else if (j % 2 == 1 && j > 1)
                        sum_y += in_series(couple_y[n - sy], couple_y[n], j < f.ny ? couple_y[n + sy] : -1.0);
                    if (!f.join_z) sum_z += couple_z[n];
                    else if (k % 2 == 1 && k > 1)
                        sum_z += in_series(couple_z[n - sz], couple_z[n], k < f.nz ? couple_z[n + sz] : -1.0);
                    // The plates face the first and last nodes along x.
                    if (anchor[n] != 0.0) {
                        double inner = -1.0;
                        if (f.join_x && i % 2 == 1 && i < f.nx) inner = couple_x[n + 1];
                        if (f.join_x && i % 2 == 0) inner = couple_x[n];
                        sum_anchor += in_series(inner, anchor[n], -1.0);
                    }
                }
        couple_x[m] = static_cast<real>(sum_x);
        couple_y[m] = static_cast<real>(sum_y);
        couple_z[m] = static_cast<real>(sum_z);
        anchor[m] = sum_anchor;
    });
}

template <std::size_t... INDEX>
constexpr std::array<void (*)(Rows), sizeof...(INDEX)> coarsen_each(std::index_sequence<INDEX...>) {
    return {coarsen<INDEX>...};
}
// coarsen_level[i] makes level i + 1 from level i.
constexpr auto coarsen_level = coarsen_each(std::make_index_sequence<H.count - 1>());

void factor_coarsest() {
    const Level& l = H.level[H.count - 1];
    const int size = l.unknowns();
    std::fill(direct_factor, direct_factor + DIRECT_LIMIT * DIRECT_LIMIT, 0.0);
    auto unknown = [&](int i, int j, int k) { return (i - 1) + l.nx * ((j - 1) + l.ny * (k - 1)); };
    for_interior(l, [&](int i, int j, int k, int n) {
        const int u = unknown(i, j, k);
        direct_factor[u * size + u] = diagonal[n];
        if (i > 1) direct_factor[u * size + unknown(i - 1, j, k)] = -couple_x[n];
        if (j > 1) direct_factor[u * size + unknown(i, j - 1, k)] = -couple_y[n];
        if (k > 1) direct_factor[u * size + unknown(i, j, k - 1)] = -couple_z[n];
    });
    for (int r = 0; r < size; ++r)
        for (int c = 0; c <= r; ++c) {
            double sum = direct_factor[r * size + c];
            for (int p = 0; p < c; ++p) sum -= direct_factor[r * size + p] * direct_factor[c * size + p];
            direct_factor[r * size + c] = r == c ? std::sqrt(sum) : sum / direct_factor[c * size + c];
        }
}

void solve_coarsest() {
    const Level& l = H.level[H.count - 1];
    const int size = l.unknowns();
    int u = 0;
    for_interior(l, [&](int, int, int, int n) { direct_vector[u++] = source[n]; });
    for (int r = 0; r < size; ++r) {
        double sum = direct_vector[r];
        for (int p = 0; p < r; ++p) sum -= direct_factor[r * size + p] * direct_vector[p];
        direct_vector[r] = sum / direct_factor[r * size + r];
    }
    for (int r = size - 1; r >= 0; --r) {
        double sum = direct_vector[r];
        for (int p = r + 1; p < size; ++p) sum -= direct_factor[p * size + r] * direct_vector[p];
        direct_vector[r] = sum / direct_factor[r * size + r];
    }
    u = 0;
    for_interior(l, [&](int, int, int, int n) { correction[n] = static_cast<real>(direct_vector[u++]); });
}

// The cycle is shared among the members of the thread team (thread_team) on
// the two finest levels, which hold nine tenths of its work: each member
// takes a band of rows of every plane, cut between the pairs of rows that the
// next level joins, so that each box of the next level adds up its residuals
// on one member in the same order as on one member alone. The coarser levels
// run on the last member while the others wait.
constexpr int SHARED_LEVELS = 2;
bool shared(int index) { return index < SHARED_LEVELS; }

// One member's part of a cycle; level 0's right-hand side is read from r and
// its correction written to z.
struct Share {
    int member, members;
    const double* r;
    double* z;
};

Rows rows_of(const Level& l, int index, const Share& s) {
    if (!shared(index)) return {1, l.ny};
    const int pairs = (l.ny + 1) / 2;
    return {2 * (pairs * s.member / s.members) + 1, std::min(l.ny, 2 * (pairs * (s.member + 1) / s.members))};
}

// The rows of the next level's boxes that hold these rows of level l.
Rows boxes_of(const Level& l, Rows rows) {
    if (!l.join_y) return rows;
    return {(rows.first + 1) / 2, (rows.last + 1) / 2};
}

// r·z over each row (k, j) of level 0, summed along the row in lanes
// (lane_sum); apply() adds the rows in the plain k, j order, for the same
// bits on any member count.
double row_dot[H.level[0].ny * H.level[0].nz];

// Gauss-Seidel on the nodes of rows `rows` of plane k with (i + j + k) % 2 ==
// colour. Each node's neighbours are all of the other colour, so the order
// within a half-sweep does not matter.
void relax_plane(const Level& l, int colour, int k, Rows rows) {
    const int sy = l.step_y(), sz = l.step_z();
    const real* b = source;
    real* x = correction;
    for (int j = rows.first; j <= rows.last; ++j) {
        const int first = ((1 + j + k) % 2 == colour) ? 1 : 2;
        for (int n = l.at(first, j, k), end = l.at(l.nx, j, k); n <= end; n += 2)
            x[n] = (b[n] + couple_x[n] * x[n - 1] + couple_x[n + 1] * x[n + 1] + couple_y[n] * x[n - sy] +
                    couple_y[n + sy] * x[n + sy] + couple_z[n] * x[n - sz] + couple_z[n + sz] * x[n + sz]) *
                   inv_diagonal[n];
    }
}

// Entry of the box that holds node (i, j, k) of level f (i = 0: the row's
// start, as the padding's box).
int box_index(const Level& f, const Level& c, int i, int j, int k) {
    return c.at(f.join_x ? (i + 1) / 2 : i, f.join_y ? (j + 1) / 2 : j, f.join_z ? (k + 1) / 2 : k);
}

// From this level down each level's cycle runs twice (a W-cycle below it):
// the coarse levels cost little, and their piecewise-constant boxes need
// the extra work to correct as much as the fine smoothing leaves.
constexpr int REPEAT_FROM = 3;

void cycle_once(int index, bool from_zero, const Share& s);

// The cycle on level `index`: its correction from its right-hand side,
// starting from zero.
void cycle(int index, const Share& s) {
    if (!shared(index) && s.member != s.members - 1) return;
    if (index == H.count - 1) {
        solve_coarsest();
        return;
    }
    cycle_once(index, true, s);
    if (index >= REPEAT_FROM) cycle_once(index, false, s);
}

// One pass down and up from this level; from_zero: the correction starts at
// 0, else at what the previous pass left.
//
// One member alone runs the half-sweeps of a pass through memory once, one
// plane behind another: in step k half-sweep h relaxes plane k − h, after
// half-sweep h − 1 has done the planes on both sides of it. The members of
// a shared level each run whole half-sweeps over their rows, which stay in
// their cores' caches, and meet after each. The result has the bits of
// whole half-sweeps one after the other either way.
void cycle_once(int index, bool from_zero, const Share& s) {
    const Level& l = H.level[index];
    const Level& c = H.level[index + 1];
    const int half_count = half_sweeps(index);
    const int sy = l.step_y(), sz = l.step_z();
    const Rows rows = rows_of(l, index, s);
    const bool meets = shared(index) && s.members > 1;
    real* x = correction;
    const real* b = source;
    // Smoothing, then the residual summed over each box into the next
    // level's right-hand side. From zero, the first half-sweep sets its
    // colour to b/diagonal (its neighbours are still 0) and would set the
    // other colour to 0, which the second overwrites before anything reads
    // it. The last half-sweep leaves no residual on its colour but rounding,
    // so only the other colour's is summed.
    const int unrelaxed = half_count % 2;
    const int first_half = from_zero ? 1 : 0;
    const Rows boxes = boxes_of(l, rows);
    for (int kc = 1; kc <= c.nz; ++kc)
        for (int jc = boxes.first; jc <= boxes.last; ++jc)
            std::fill(source + c.at(1, jc, kc), source + c.at(c.nx + 1, jc, kc), real{0});
    const auto start = [&](int k) {
        if (index == 0)
            for (int j = rows.first; j <= rows.last; ++j)
                for (int n = l.at(1, j, k), end = l.at(l.nx, j, k); n <= end; ++n)
                    source[n] = static_cast<real>(s.r[n]);
        if (from_zero)
            for (int j = rows.first; j <= rows.last; ++j)
                for (int n = l.at((1 + j + k) % 2 == 0 ? 1 : 2, j, k), end = l.at(l.nx, j, k); n <= end; n += 2)
                    x[n] = source[n] * inv_diagonal[n];
    };
    const auto restrict_residual = [&](int k) {
        for (int j = rows.first; j <= rows.last; ++j) {
            real* box_row = source + box_index(l, c, 0, j, k);
            const int first = (1 + j + k) % 2 == unrelaxed ? 1 : 2;
            for (int i = first, n = l.at(first, j, k); i <= l.nx; i += 2, n += 2) {
                const real residual = b[n] - (diagonal[n] * x[n] - couple_x[n] * x[n - 1] -
                                              couple_x[n + 1] * x[n + 1] - couple_y[n] * x[n - sy] -
                                              couple_y[n + sy] * x[n + sy] - couple_z[n] * x[n - sz] -
                                              couple_z[n + sz] * x[n + sz]);
                box_row[l.join_x ? (i + 1) >> 1 : i] += residual;
            }
        }
    };
    if (meets) {
        for (int k = 1; k <= l.nz; ++k) start(k);
        thread_team::meet();
        for (int h = first_half; h < half_count; ++h) {
            for (int k = 1; k <= l.nz; ++k) relax_plane(l, h % 2, k, rows);
            thread_team::meet();
        }
        for (int k = 1; k <= l.nz; ++k) restrict_residual(k);
        thread_team::meet();
    } else {
        for (int k = 1; k <= l.nz + half_count; ++k) {
            if (k <= l.nz) start(k);
            for (int h = first_half; h < half_count; ++h)
                if (k - h >= 1 && k - h <= l.nz) relax_plane(l, h % 2, k - h, rows);
            if (k - half_count >= 1) restrict_residual(k - half_count);
        }
    }
    cycle(index + 1, s);
    if (meets && !shared(index + 1)) thread_team::meet();
    // The correction of each box added to its nodes, then the smoothing in
    // the reverse colour order, so that the cycle is symmetric. The first
    // half-sweep sets its colour from the other alone, so only the other
    // takes the correction.
    const auto correct = [&](int k) {
        for (int j = rows.first; j <= rows.last; ++j) {
            const real* box_row = correction + box_index(l, c, 0, j, k);
            real* row = x + l.at(0, j, k);
            const int first = (1 + j + k) % 2 == unrelaxed ? 1 : 2;
            if (l.join_x)
                for (int i = first; i <= l.nx; i += 2) row[i] += box_row[(i + 1) >> 1];
            else
                for (int i = first; i <= l.nx; i += 2) row[i] += box_row[i];
        }
    };
    const auto finish = [&](int k) {
        if (index == 0)
            for (int j = rows.first; j <= rows.last; ++j)
                row_dot[(k - 1) * l.ny + (j - 1)] = lane_sum::sum(l.at(1, j, k), l.at(l.nx, j, k), [&](int n, int) {
                    s.z[n] = x[n];
                    return s.r[n] * s.z[n];
                });
    };
    if (meets) {
        for (int k = 1; k <= l.nz; ++k) correct(k);
        thread_team::meet();
        for (int h = 0; h < half_count; ++h) {
            for (int k = 1; k <= l.nz; ++k) relax_plane(l, (half_count - 1 - h) % 2, k, rows);
            thread_team::meet();
        }
        for (int k = 1; k <= l.nz; ++k) finish(k);
    } else {
        for (int k = 1; k <= l.nz + half_count; ++k) {
            if (k <= l.nz) correct(k);
            for (int h = 0; h < half_count; ++h)
                if (k - 1 - h >= 1 && k - 1 - h <= l.nz) relax_plane(l, (half_count - 1 - h) % 2, k - 1 - h, rows);
            if (k - half_count >= 1) finish(k - half_count);
        }
    }
}

void cycle_on_member(void* context, int member) {
    Share s = *static_cast<const Share*>(context);
    s.member = member;
    cycle(0, s);
}

struct Fine {
    const double *x, *y, *z, *anchor;
};

// One member's part of the set-up: on the shared levels the diagonal of its
// rows and the couplings of the next level's boxes over them.
void set_up_on_member(void* context, int member) {
    const Fine& fine = *static_cast<const Fine*>(context);
    const Share s{member, thread_team::members(), nullptr, nullptr};
    for_interior(H.level[0], rows_of(H.level[0], 0, s), [&](int, int, int, int n) {
        couple_x[n] = static_cast<real>(fine.x[n]);
        couple_y[n] = static_cast<real>(fine.y[n]);
        couple_z[n] = static_cast<real>(fine.z[n]);
        anchor[n] = fine.anchor[n];
    });
    thread_team::meet();
    for (int index = 0; index < H.count; ++index) {
        if (!shared(index) && member != s.members - 1) return;
        const Level& l = H.level[index];
        const Rows rows = rows_of(l, index, s);
        const int sy = l.step_y(), sz = l.step_z();
        for_interior(l, rows, [&](int, int, int, int n) {
            const double sum = anchor[n] + double{couple_x[n]} + couple_x[n + 1] + couple_y[n] + couple_y[n + sy] +
                               couple_z[n] + couple_z[n + sz];
            diagonal[n] = static_cast<real>(sum);
            inv_diagonal[n] = static_cast<real>(1.0 / sum);
        });
        if (index + 1 < H.count) coarsen_level[index](boxes_of(l, rows));
        if (shared(index)) thread_team::meet();
    }
    factor_coarsest();
}

}  // namespace

void setup(const double* fine_x, const double* fine_y, const double* fine_z, const double* fine_anchor) {
    Fine fine{fine_x, fine_y, fine_z, fine_anchor};
    thread_team::run(set_up_on_member, &fine);
}

double apply(const double* r, double* z) {
    Share s{0, thread_team::members(), r, z};
    thread_team::run(cycle_on_member, &s);
    double sum = 0.0;
    for (const double row : row_dot) sum += row;
    return sum;
}

void reset() {
    for (real* a : {couple_x, couple_y, couple_z, diagonal, inv_diagonal, source, correction})
        std::fill(a, a + H.total, real{0});
    std::fill(anchor, anchor + H.total, 0.0);
}

}  // namespace multigrid_preconditioner
