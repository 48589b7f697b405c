#include "particles/particle_merging.hpp"

#include "mesh/mesh_arrays.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace particle_merging {

long long merge_count = 0;

namespace {

using PARTICLE_STORAGE::Store;

struct Caps {
    int ions = 0;       // live records; 0: never merged
    int electrons = 0;
    std::uint64_t seed_key = 0;  // the run's two seeds, mixed
};
Caps caps;

// One live record as the pairing sees it: its group (side of the kept slot,
// mesh cell, species or origin code) and its speed squared.
struct Entry {
    std::uint64_t group;
    double speed2;  // (cm/s)^2
    int slot;
};
struct Pair {
    double score;  // smaller merges first
    int a, b;
};
// Scratch of the pairing, sized at start-up and again only when a store grows.
std::vector<Entry> entries;
std::vector<Pair> pairs;

// SplitMix64's finalizer: every input bit flips about half the output bits.
std::uint64_t mix(std::uint64_t z) {
    z += 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

std::uint64_t bits_of(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// A uniform number in [0, 1) for merging slots a and b as they are now: a hash
// of the seeds, the store, the slots and the partners' clocks and positions,
// all of which a checkpoint restores exactly. The clock tells the steps apart.
double pair_uniform(const Store& s, int a, int b) {
    const std::uint64_t store_tag = &s == &PARTICLE_STORAGE::ions ? 1 : 2;
    std::uint64_t h = mix(caps.seed_key ^ store_tag);
    h = mix(h ^ static_cast<std::uint64_t>(a));
    h = mix(h ^ static_cast<std::uint64_t>(b));
    h = mix(h ^ bits_of(s.t[a]));
    h = mix(h ^ bits_of(s.x[a]));
    h = mix(h ^ bits_of(s.y[b]));
    h = mix(h ^ bits_of(s.z[b]));
    return static_cast<double>(h >> 11) * 0x1.0p-53;
}

std::uint64_t cell_of(const Store& s, int slot) {
    return static_cast<std::uint64_t>(mesh::cell_number(s.x[slot], s.y[slot], s.z[slot]));
}

double speed2(const Store& s, int slot) {
    return s.vx[slot] * s.vx[slot] + s.vy[slot] * s.vy[slot] + s.vz[slot] * s.vz[slot];
}

// Light pairs with close velocities first: the combined weight times one plus
// the squared velocity difference relative to the pair's speeds. Keeping the
// weights even keeps the noise of later merges small.
double pair_score(const Store& s, int a, int b) {
    constexpr double FLOOR_SPEED2 = 1e8;  // (cm/s)^2; two ions at rest score by weight alone
    const double dvx = s.vx[a] - s.vx[b], dvy = s.vy[a] - s.vy[b], dvz = s.vz[a] - s.vz[b];
    const double spread = (dvx * dvx + dvy * dvy + dvz * dvz) / (speed2(s, a) + speed2(s, b) + FLOOR_SPEED2);
    return (std::fabs(s.w[a]) + std::fabs(s.w[b])) * (1.0 + spread);
}

// One record takes the pair's whole charge and one partner's state, chosen
// with probability proportional to its weight; the other slot dies. In the
// parallel mode the survivor keeps its own slot, hence its own identity and
// draw counter: the merged particle goes on with the stream of the partner
// whose position, velocity and clock it keeps.
void merge_pair(Store& s, int a, int b) {
    const double wa = std::fabs(s.w[a]), wb = std::fabs(s.w[b]);
    const bool a_survives = pair_uniform(s, a, b) * (wa + wb) < wa;
    const int keep = a_survives ? a : b;
    const int lose = a_survives ? b : a;
    s.w[keep] = s.w[a] + s.w[b];
    s.w[lose] = 0.0;
    s.alive[lose] = 0;
}

// Pairs neighbours of each group after sorting by speed; returns their count.
int find_pairs(const Store& s, int keep) {
    entries.clear();
    for (int slot = 1; slot <= s.count; ++slot) {
        if (s.alive[slot] == 0 || slot == keep) continue;
        const std::uint64_t side = slot > keep ? 1 : 0;
        const std::uint64_t kind = static_cast<std::uint64_t>(s.species[slot]) & 7;
        entries.push_back({(cell_of(s, slot) * 8 + kind) * 2 + side, speed2(s, slot), slot});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& p, const Entry& q) {
        if (p.group != q.group) return p.group < q.group;
        if (p.speed2 != q.speed2) return p.speed2 < q.speed2;
        return p.slot < q.slot;
    });
    pairs.clear();
    for (std::size_t n = 0; n + 1 < entries.size();) {
        if (entries[n].group == entries[n + 1].group) {
            const int a = entries[n].slot, b = entries[n + 1].slot;
            pairs.push_back({pair_score(s, a, b), a, b});
            n += 2;
        } else {
            n += 1;
        }
    }
    return static_cast<int>(pairs.size());
}

int cap_of(const Store& s) { return &s == &PARTICLE_STORAGE::ions ? caps.ions : caps.electrons; }

int three_quarters(int cap) { return cap - cap / 4; }

// The in-pass guard: the store is full in the middle of a pass. Merge down
// around the walk's cursor; if that frees too little (the records are spread
// over too many cells), the store grows by half.
void make_room(Store& s) {
    merge_down(s, three_quarters(cap_of(s)), s.cursor);
    if (s.count + 1 >= s.capacity - s.capacity / 8) PARTICLE_STORAGE::set_capacity(s, s.capacity + s.capacity / 2);
}

void prepare(Store& s, int cap) {
    if (cap <= 0) return;
    // Twice the cap, not more: the guard then also keeps a pass in which the
    // population multiplies from costing more than twice the cap.
    PARTICLE_STORAGE::set_capacity(s, 2 * cap + 1);  // slot 0 is never used
    s.make_room = make_room;
}

}  // namespace

void configure(int max_ions, int max_electrons, std::int32_t seed1, std::int32_t seed2) {
    caps.ions = max_ions;
    caps.electrons = max_electrons;
    caps.seed_key = mix((static_cast<std::uint64_t>(static_cast<std::uint32_t>(seed1)) << 32) |
                        static_cast<std::uint32_t>(seed2));
    prepare(PARTICLE_STORAGE::ions, max_ions);
    prepare(PARTICLE_STORAGE::electrons, max_electrons);
    const int largest = std::max(PARTICLE_STORAGE::ions.capacity, PARTICLE_STORAGE::electrons.capacity);
    if (enabled()) {
        entries.reserve(static_cast<std::size_t>(largest));
        pairs.reserve(static_cast<std::size_t>(largest / 2 + 1));
    }
}

bool enabled() { return caps.ions > 0 || caps.electrons > 0; }

int merge_down(Store& s, int target, int keep) {
    int live = PARTICLE_STORAGE::live_count(s);
    int merged = 0;
    while (live > target) {
        const int found = find_pairs(s, keep);
        if (found == 0) break;
        const int need = live - target;
        if (found > need) {
            std::nth_element(pairs.begin(), pairs.begin() + need, pairs.end(),
                             [](const Pair& p, const Pair& q) {
                                 return p.score < q.score || (p.score == q.score && p.a < q.a);
                             });
            pairs.resize(static_cast<std::size_t>(need));
        }
        for (const Pair& p : pairs) merge_pair(s, p.a, p.b);
        const int done = static_cast<int>(pairs.size());
        live -= done;
        merged += done;
    }
    if (merged > 0) PARTICLE_STORAGE::compact_in_order(s);
    merge_count += merged;
    return merged;
}

void merge_crowded_stores() {
    for (Store* s : {&PARTICLE_STORAGE::ions, &PARTICLE_STORAGE::electrons}) {
        const int cap = cap_of(*s);
        if (cap > 0 && PARTICLE_STORAGE::live_count(*s) > cap) merge_down(*s, three_quarters(cap), 0);
    }
}

double real_count(const Store& s) { return PARTICLE_STORAGE::charge_carried(s) / mesh::ELECTRON_CHARGE; }

void reset() {
    caps = Caps{};
    merge_count = 0;
    entries.clear();
    pairs.clear();
}

}  // namespace particle_merging
