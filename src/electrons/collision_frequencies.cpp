#include "electrons/collision_frequencies.hpp"

#include "particles/species.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace collision_frequencies {

namespace {

// One node of a process table: energy in eV and frequency in 1/s. A node may
// give its speed directly instead of through the energy.
struct Node {
    double energy;      // eV
    double nu;          // 1/s
    double speed = -1;  // cm/s; negative: SPEED_PER_SQRT_EV·sqrt(energy)
};

// Beyond the last node the collision rate per atom keeps falling: as 1/v for
// the cross sections that fall like 1/E (frequency ~ v·sigma), as 1/v^2 for Ne
// ionization. Tables whose last value is 0 thus stay 0.
enum class Beyond { inverse_speed, inverse_speed_squared };

constexpr int MAX_NODES = 49;

// A table with its segments held as slope and intercept in speed, so that a
// lookup costs one multiply and one add; set up once at program start.
struct Table {
    int count = 0;
    double speed[MAX_NODES] = {};      // cm/s, node speeds
    double slope[MAX_NODES] = {};      // segment from node i-1 to node i: slope[i]·v + intercept[i]
    double intercept[MAX_NODES] = {};
    Beyond beyond = Beyond::inverse_speed;
    double last_speed = 0, last_nu = 0;
    double last_product = 0;           // last_nu·last_speed, 1/s · cm/s
};

// The frequencies scale with the gas's partial density (scale 1: the
// built-in fill, whose values stay exactly as typed).
template <int N>
Table make_table(const Node (&nodes)[N], Beyond beyond = Beyond::inverse_speed, double scale = 1.0) {
    static_assert(N >= 2 && N <= MAX_NODES);
    Table t;
    t.count = N;
    for (int i = 0; i < N; ++i)
        t.speed[i] = nodes[i].speed >= 0 ? nodes[i].speed : SPEED_PER_SQRT_EV * std::sqrt(nodes[i].energy);
    for (int i = 1; i < N; ++i) {
        t.slope[i] = (scale * nodes[i].nu - scale * nodes[i - 1].nu) / (t.speed[i] - t.speed[i - 1]);
        t.intercept[i] = scale * nodes[i - 1].nu - t.slope[i] * t.speed[i - 1];
    }
    t.beyond = beyond;
    t.last_speed = t.speed[N - 1];
    t.last_nu = scale * nodes[N - 1].nu;
    t.last_product = t.last_nu * t.last_speed;
    return t;
}

// Below the first node (the threshold; 0 for the elastic tables) there is no
// collision; between nodes the frequency is linear in speed.
double lookup(const Table& t, double v) {
    if (v < t.speed[0]) return 0.0;
    for (int i = 1; i < t.count; ++i)
        if (v < t.speed[i]) return t.slope[i] * v + t.intercept[i];
    if (t.beyond == Beyond::inverse_speed_squared) {
        const double ratio = t.last_speed / v;
        return t.last_nu * (ratio * ratio);
    }
    return t.last_product / v;
}

// Node tables: energy in eV, frequency in 1/s (written as multiples of 1e9).
// numt_Ne: 29 nodes
constexpr Node NUMT_NE[] = {
    {0, 0.0}, {0.03, 4.738e9}, {0.09, 11.71e9}, {0.15, 18.7e9}, {0.25, 29.69e9}, {0.4, 45.19e9},
    {0.6, 63.34e9}, {0.9, 87.42e9}, {1.2, 107.7e9}, {1.5, 125.2e9}, {3, 192.5e9}, {10, 446.3e9},
    {15, 616.7e9}, {20, 764.2e9}, {25, 860.3e9}, {30, 929.6e9}, {40, 1011e9}, {60, 1007e9},
    {80, 939e9}, {100, 839.9e9}, {120, 760.3e9}, {150, 627.2e9}, {200, 508.1e9}, {300, 375.8e9},
    {400, 302.1e9}, {500, 251.7e9}, {600, 214.3e9}, {800, 166.6e9}, {1000, 133e9}
};
// numt_Xe: 46 nodes
constexpr Node NUMT_XE[] = {
    {0, 0.0}, {0.01, 79.99e9}, {0.02, 90.15e9}, {0.03, 91.61e9}, {0.04, 89.7e9}, {0.06, 82.17e9},
    {0.08, 73.29e9}, {0.1, 64.64e9}, {0.12, 56.7e9}, {0.16, 43.29e9}, {0.2, 33.06e9},
    {0.26, 22.28e9}, {0.36, 12.27e9}, {0.44, 8.301e9}, {0.5, 6.667e9}, {0.56, 5.82e9},
    {0.6, 5.628e9}, {0.64, 5.719e9}, {0.7, 6.411e9}, {0.8, 8.959e9}, {1, 16.33e9},
    {1.4, 39.66e9}, {1.8, 76.17e9}, {2.2, 126e9}, {3, 264.8e9}, {4, 457.6e9}, {5, 594.4e9},
    {6, 651.2e9}, {8, 698.2e9}, {10, 600.5e9}, {12, 444e9}, {15, 349.3e9}, {20, 297.2e9},
    {25, 280.1e9}, {30, 265.2e9}, {40, 252.2e9}, {50, 241.7e9}, {60, 235.3e9}, {80, 229.3e9},
    {120, 223.6e9}, {150, 220.9e9}, {250, 217.7e9}, {300, 213.8e9}, {500, 199.6e9},
    {1000, 174.1e9}, {5000, 50.35e9}
};
// nu_ion_Ne: 23 nodes
constexpr Node NU_ION_NE[] = {
    {21.56, 0.0}, {22, 2.462e9}, {26, 14.27e9}, {30, 30.99e9}, {34, 48.97e9}, {39, 74.3e9},
    {40, 89.27e9}, {50, 148.1e9}, {60, 206.5e9}, {70, 262e9}, {80, 309.3e9}, {90, 351.9e9},
    {100, 384.9e9}, {150, 510e9}, {200, 581.5e9}, {300, 639.4e9}, {400, 653.2e9}, {600, 647.2e9},
    {900, 610.6e9}, {1000, 599.4e9}, {2000, 487.8e9}, {3000, 434.5e9}, {4000, 398.4e9}
};
// nu_ion_Xe: 49 nodes
constexpr Node NU_ION_XE[] = {
    {12.12, 0.0}, {12.5, 3.692e9}, {13, 8.764e9}, {13.5, 14.37e9}, {14, 20.28e9},
    {14.5, 26.83e9}, {15, 33.32e9}, {15.5, 40e9}, {16, 46.71e9}, {16.5, 53.22e9}, {17, 59.89e9},
    {17.5, 66.33e9}, {18, 72.51e9}, {19, 84.84e9}, {20, 96.39e9}, {21, 108.3e9}, {22, 121.6e9},
    {23, 133e9}, {24, 143.7e9}, {26, 162.7e9}, {28, 181.4e9}, {30, 200.2e9}, {32, 217e9},
    {34, 231.4e9}, {36, 244.4e9}, {38, 256.9e9}, {40, 268.4e9}, {45, 298.1e9}, {50, 324.3e9},
    {55, 347.8e9}, {60, 369.9e9}, {65, 388.9e9}, {70, 406.7e9}, {80, 439.9e9}, {90, 473.8e9},
    {100, 510.8e9}, {110, 542.7e9}, {120, 566.8e9}, {130, 585.7e9}, {140, 593.2e9},
    {150, 603.5e9}, {160, 607.7e9}, {180, 615.3e9}, {200, 615e9}, {300, 639.7e9}, {400, 638e9},
    {600, 604.7e9}, {800, 588.1e9}, {1000, 564.5e9}
};
// nu_exc_Ne_1: 16 nodes
constexpr Node NU_EXC_NE_1[] = {
    {16.62, 0.0}, {17, 2.549e9}, {18, 4.306e9}, {20, 6.129e9}, {21, 7.109e9}, {22, 8.371e9},
    {27, 10.46e9}, {30, 10.06e9}, {40, 9.074e9}, {55, 9.04e9}, {82, 8.714e9}, {102, 8.07e9},
    {122, 7.666e9}, {142, 7.02e9}, {147, 7.001e9}, {370, 0.0}
};
// nu_exc_Ne_2: 16 nodes
constexpr Node NU_EXC_NE_2[] = {
    {16.67, 0.0}, {17.71, 0.5915e9}, {20.97, 1.416e9}, {24.43, 2.122e9}, {27.32, 2.561e9},
    {29.62, 2.863e9}, {33.35, 3.257e9}, {36.81, 3.539e9}, {45.44, 4.002e9}, {53.06, 4.316e9},
    {86.68, 4.757e9}, {106.5, 4.833e9}, {129.5, 4.852e9}, {150.7, 4.754e9}, {177.9, 4.66e9},
    {200, 4.619e9}
};
// nu_exc_Ne_3: 20 nodes
constexpr Node NU_EXC_NE_3[] = {
    {16.84, 0.0}, {20.82, 5.083e9}, {23.65, 13.84e9}, {27.48, 20.79e9}, {30.65, 28.16e9},
    {33.93, 33.87e9}, {37.05, 38.7e9}, {40.12, 42e9}, {44.53, 46.31e9}, {48.56, 49.58e9},
    {53.92, 53.11e9}, {59.03, 55.43e9}, {65.59, 57.63e9}, {75.75, 60.1e9}, {93.72, 62.05e9},
    {126.7, 63.55e9}, {146.9, 62.84e9}, {164.8, 62.22e9}, {184.6, 61.73e9}, {200, 61.2e9}
};
// nu_exc_Ne_4: 14 nodes; the second node sits 7 cm/s above the threshold
// speed, so it is given as a speed.
constexpr Node NU_EXC_NE_4[] = {
    {18.72, 0.0}, {18.72, 0.7066e9, 256611875.63310435}, {19.25, 2.84e9}, {20.67, 5.489e9},
    {22.22, 7.89e9}, {23.44, 9.29e9}, {25.3, 10.8e9}, {27.32, 12.01e9}, {30.05, 13.11e9},
    {33.71, 14.02e9}, {38.09, 14.4e9}, {57.54, 14.11e9}, {73.04, 13.06e9}, {88.8, 12.09e9}
};
// nu_exc_Ne_5: 12 nodes
constexpr Node NU_EXC_NE_5[] = {
    {20, 0.0}, {20.28, 0.7092e9}, {21.16, 1.556e9}, {23.53, 2.857e9}, {25.68, 3.724e9},
    {28.54, 4.643e9}, {31.78, 5.392e9}, {36.71, 6.255e9}, {44.33, 7.262e9}, {55.02, 8.436e9},
    {70.4, 9.591e9}, {89, 10.56e9}
};
// nu_exc_Ne_6: 12 nodes
constexpr Node NU_EXC_NE_6[] = {
    {20.65, 0.0}, {21.69, 0.728e9}, {23.25, 1.226e9}, {24.75, 1.538e9}, {26.8, 1.845e9},
    {28.85, 2.049e9}, {32.1, 2.247e9}, {35.42, 2.395e9}, {41.21, 2.471e9}, {66.49, 2.378e9},
    {76.11, 2.29e9}, {89.7, 2.154e9}
};
// nu_exc_Xe_1: 19 nodes
constexpr Node NU_EXC_XE_1[] = {
    {8.31, 0.0}, {8.47, 0.6908e9}, {8.84, 1.778e9}, {9.036, 2.931e9}, {9.38, 2.53e9},
    {9.52, 5.273e9}, {9.73, 3.039e9}, {10.49, 3.561e9}, {10.97, 3.711e9}, {11.65, 3.759e9},
    {12.2, 3.734e9}, {14.98, 3.149e9}, {17.46, 2.523e9}, {20.05, 1.973e9}, {23.68, 1.437e9},
    {27.46, 1.08e9}, {33.36, 0.6471e9}, {35.1, 0.585e9}, {50, 0.0}
};
// nu_exc_Xe_2: 13 nodes
constexpr Node NU_EXC_XE_2[] = {
    {8.44, 0.0}, {15.09, 12.61e9}, {17.18, 16.57e9}, {19.04, 19.76e9}, {21.85, 23.66e9},
    {25.06, 27.14e9}, {28.57, 30.45e9}, {33.74, 33.75e9}, {41.3, 36.95e9}, {63.88, 40.9e9},
    {85.46, 41.59e9}, {100, 41.97e9}, {305, 0.0}
};
// nu_exc_Xe_3: 14 nodes
constexpr Node NU_EXC_XE_3[] = {
    {9.69, 0.0}, {10.04, 3.18e9}, {10.6, 6.575e9}, {11.32, 10.2e9}, {12.27, 14.31e9},
    {13.18, 16.68e9}, {14.4, 19.17e9}, {15.74, 20.94e9}, {16.74, 21.99e9}, {18.36, 23.15e9},
    {20.81, 24.38e9}, {25.77, 25.83e9}, {33.27, 26.78e9}, {39.65, 27.2e9}
};
// nu_exc_Xe_4: 13 nodes
constexpr Node NU_EXC_XE_4[] = {
    {10, 0.0}, {11.44, 14.77e9}, {12.35, 21.35e9}, {13.04, 25.61e9}, {14.17, 30.99e9},
    {15.12, 34.3e9}, {16.25, 37.85e9}, {17.44, 40.56e9}, {19.21, 43.99e9}, {21.38, 47.19e9},
    {24.94, 51.21e9}, {33.01, 56.62e9}, {40, 58.85e9}
};
// nu_exc_Xe_5: 15 nodes
constexpr Node NU_EXC_XE_5[] = {
    {11, 0.0}, {11.26, 1.319e9}, {12.56, 3.028e9}, {13.94, 4.537e9}, {15.21, 5.258e9},
    {16.54, 5.483e9}, {18.85, 5.647e9}, {23, 5.282e9}, {27.68, 4.446e9}, {32.93, 3.759e9},
    {38.81, 3.076e9}, {46.56, 2.397e9}, {62.43, 1.425e9}, {80.1, 0.7223e9}, {100, 0.08545e9}
};
// nu_exc_Xe_6: 15 nodes
constexpr Node NU_EXC_XE_6[] = {
    {11.7, 0.0}, {13.59, 2.604e9}, {15.79, 6.942e9}, {18.75, 14.47e9}, {23.15, 25.58e9},
    {28.51, 35.84e9}, {30.87, 39.46e9}, {34.06, 43.61e9}, {37.94, 47.96e9}, {42.21, 51.75e9},
    {48.11, 55.85e9}, {52.74, 58.47e9}, {59.8, 61.53e9}, {72.84, 65.07e9}, {100, 68.27e9}
};

Table numt_ne_table = make_table(NUMT_NE);
Table numt_xe_table = make_table(NUMT_XE);
Table ion_ne_table = make_table(NU_ION_NE, Beyond::inverse_speed_squared);
Table ion_xe_table = make_table(NU_ION_XE);
Table exc_ne_table[6] = {make_table(NU_EXC_NE_1), make_table(NU_EXC_NE_2), make_table(NU_EXC_NE_3),
                         make_table(NU_EXC_NE_4), make_table(NU_EXC_NE_5), make_table(NU_EXC_NE_6)};
Table exc_xe_table[6] = {make_table(NU_EXC_XE_1), make_table(NU_EXC_XE_2), make_table(NU_EXC_XE_3),
                         make_table(NU_EXC_XE_4), make_table(NU_EXC_XE_5), make_table(NU_EXC_XE_6)};

// Envelope of the total, linear in energy: node energies in eV and values in
// 1/s; constant above the last node. The built-in fill's is drawn by hand.
constexpr int BUILT_IN_NODES = 9;
constexpr double BUILT_IN_ENERGY[BUILT_IN_NODES] = {0, 0.7, 2, 4.9, 8, 14.8, 39, 120, 300};
constexpr double BUILT_IN_NU[BUILT_IN_NODES] = {1.852e11, 1.586e11, 4.486e11, 1.453e12, 1.744e12,
                                                1.731e12, 3.227e12, 3.605e12, 3.218e12};
// Another fill's is built on these energies, eV: the built-in nodes and more
// where the sum changes fast.
constexpr double FILL_ENERGY[] = {0,   0.05, 0.1, 0.2, 0.35, 0.5, 0.7, 1,  1.4, 2,  3,   4,   4.9,
                                  6,   8,    10,  12,  14.8, 18,  22,  26, 32,  39, 50,  65,  80,
                                  100, 120,  160, 220, 300};
constexpr int MAX_ENVELOPE_NODES = sizeof FILL_ENERGY / sizeof FILL_ENERGY[0];
// Head-room over the largest sum found, for rounding in the lookups.
constexpr double ENVELOPE_MARGIN = 1 + 1e-6;

struct Envelope {
    int count = 0;
    double energy[MAX_ENVELOPE_NODES] = {};
    double nu[MAX_ENVELOPE_NODES] = {};
    double slope[MAX_ENVELOPE_NODES] = {};      // 1/(s·eV); segment from node i-1 to node i
    double intercept[MAX_ENVELOPE_NODES] = {};  // 1/s
};

Envelope make_envelope(const double* energy, const double* nu, int count) {
    Envelope e;
    e.count = count;
    for (int i = 0; i < count; ++i) {
        e.energy[i] = energy[i];
        e.nu[i] = nu[i];
    }
    for (int i = 1; i < count; ++i) {
        e.slope[i] = (e.nu[i] - e.nu[i - 1]) / (e.energy[i] - e.energy[i - 1]);
        e.intercept[i] = e.nu[i - 1] - e.slope[i] * e.energy[i - 1];
    }
    return e;
}

Envelope total_envelope = make_envelope(BUILT_IN_ENERGY, BUILT_IN_NU, BUILT_IN_NODES);

double sum_of_all(double v) {
    double sum = lookup(numt_ne_table, v) + lookup(numt_xe_table, v) + lookup(ion_ne_table, v) + lookup(ion_xe_table, v);
    for (int k = 0; k < 6; ++k) sum += lookup(exc_ne_table[k], v) + lookup(exc_xe_table[k], v);
    return sum;
}

// The largest sum over the speeds from low to high (high may be infinite).
// Every table is linear in speed between its nodes and falls as 1/v or 1/v^2
// beyond its last, so the sum is convex between any two neighbouring nodes
// of all tables: its largest value lies at the ends or at a node between.
double largest_sum(double low, double high) {
    double largest = std::max(sum_of_all(low), std::isfinite(high) ? sum_of_all(high) : 0.0);
    auto nodes_of = [&](const Table& t) {
        for (int i = 0; i < t.count; ++i)
            if (t.speed[i] > low && t.speed[i] < high) largest = std::max(largest, sum_of_all(t.speed[i]));
    };
    for (const Table* t : {&numt_ne_table, &numt_xe_table, &ion_ne_table, &ion_xe_table}) nodes_of(*t);
    for (int k = 0; k < 6; ++k) {
        nodes_of(exc_ne_table[k]);
        nodes_of(exc_xe_table[k]);
    }
    return largest;
}

double speed_of(double energy) { return SPEED_PER_SQRT_EV * std::sqrt(energy); }

// Node i takes the largest sum over its two neighbouring segments (the last
// node: over everything above its left neighbour), so the line between two
// nodes lies above the sum on the segment between them.
Envelope envelope_of_current_tables() {
    constexpr int n = MAX_ENVELOPE_NODES;
    double nu[n];
    for (int i = 0; i < n; ++i) {
        const double low = speed_of(FILL_ENERGY[i > 0 ? i - 1 : 0]);
        const double high = i + 1 < n ? speed_of(FILL_ENERGY[i + 1]) : std::numeric_limits<double>::infinity();
        nu[i] = ENVELOPE_MARGIN * largest_sum(low, high);
    }
    return make_envelope(FILL_ENERGY, nu, n);
}

}  // namespace

double numt_Ne(double v) { return lookup(numt_ne_table, v); }
double numt_Xe(double v) { return lookup(numt_xe_table, v); }
double nu_ion_Ne(double v) { return lookup(ion_ne_table, v); }
double nu_ion_Xe(double v) { return lookup(ion_xe_table, v); }

double nu_exc_Ne(int k, double v) {
    if (k < 1 || k > 6) return 0.0;
    return lookup(exc_ne_table[k - 1], v);
}

double nu_exc_Xe(int k, double v) {
    if (k < 1 || k > 6) return 0.0;
    return lookup(exc_xe_table[k - 1], v);
}

double nu_total(double v) {
    const Envelope& e = total_envelope;
    const double root_energy = v * SQRT_EV_PER_SPEED;
    const double energy = root_energy * root_energy;  // eV
    for (int i = 1; i < e.count; ++i)
        if (energy <= e.energy[i]) return e.slope[i] * energy + e.intercept[i];
    return e.nu[e.count - 1];
}

// Linear between nodes, so the largest value is at a node or at the end.
double nu_total_max_below(double energy) {
    const Envelope& e = total_envelope;
    double largest = 0.0;
    for (int i = 0; i < e.count && e.energy[i] <= energy; ++i) largest = std::max(largest, e.nu[i]);
    if (energy < e.energy[e.count - 1]) largest = std::max(largest, nu_total(SPEED_PER_SQRT_EV * std::sqrt(energy)));
    return largest;
}

void follow_fill() {
    const double ne = species::fill().ne_scale, xe = species::fill().xe_scale;
    numt_ne_table = make_table(NUMT_NE, Beyond::inverse_speed, ne);
    numt_xe_table = make_table(NUMT_XE, Beyond::inverse_speed, xe);
    ion_ne_table = make_table(NU_ION_NE, Beyond::inverse_speed_squared, ne);
    ion_xe_table = make_table(NU_ION_XE, Beyond::inverse_speed, xe);
    exc_ne_table[0] = make_table(NU_EXC_NE_1, Beyond::inverse_speed, ne);
    exc_ne_table[1] = make_table(NU_EXC_NE_2, Beyond::inverse_speed, ne);
    exc_ne_table[2] = make_table(NU_EXC_NE_3, Beyond::inverse_speed, ne);
    exc_ne_table[3] = make_table(NU_EXC_NE_4, Beyond::inverse_speed, ne);
    exc_ne_table[4] = make_table(NU_EXC_NE_5, Beyond::inverse_speed, ne);
    exc_ne_table[5] = make_table(NU_EXC_NE_6, Beyond::inverse_speed, ne);
    exc_xe_table[0] = make_table(NU_EXC_XE_1, Beyond::inverse_speed, xe);
    exc_xe_table[1] = make_table(NU_EXC_XE_2, Beyond::inverse_speed, xe);
    exc_xe_table[2] = make_table(NU_EXC_XE_3, Beyond::inverse_speed, xe);
    exc_xe_table[3] = make_table(NU_EXC_XE_4, Beyond::inverse_speed, xe);
    exc_xe_table[4] = make_table(NU_EXC_XE_5, Beyond::inverse_speed, xe);
    exc_xe_table[5] = make_table(NU_EXC_XE_6, Beyond::inverse_speed, xe);
    total_envelope = ne == 1.0 && xe == 1.0 ? make_envelope(BUILT_IN_ENERGY, BUILT_IN_NU, BUILT_IN_NODES)
                                            : envelope_of_current_tables();
}

double bound_scale() { return std::max(species::fill().ne_scale, species::fill().xe_scale); }

}  // namespace collision_frequencies
