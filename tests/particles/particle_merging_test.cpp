#include "particles/particle_merging.hpp"

#include "common/quiet_geometry.hpp"
#include "common/temp_folder.hpp"
#include "driver/checkpoint.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <tuple>
#include <vector>

using namespace PARTICLE_STORAGE;
using mesh::ELECTRON_CHARGE;

namespace {

constexpr double E = ELECTRON_CHARGE;

struct Merging : ::testing::Test {
    void SetUp() override {
        PARTICLE_STORAGE::reset();
        particle_merging::reset();
        particle_merging::configure(0, 0, 1100, 550);  // seeds only; no store capped
    }
    void TearDown() override {
        PARTICLE_STORAGE::reset();
        particle_merging::reset();
    }
};

// Centre of mesh cell (i, j, k) shifted by fractions of a spacing in (0, 1).
struct CellPoint {
    double x, y, z;
};
CellPoint in_cell(int i, int j, int k, double fx = 0.5, double fy = 0.5, double fz = 0.5) {
    return {(i + fx) * mesh::dx, (j + fy) * mesh::dy, (k + fz) * mesh::dz};
}

std::tuple<int, int, int> cell_of(const Store& s, int slot) {
    return {static_cast<int>(s.x[slot] / mesh::dx), static_cast<int>(s.y[slot] / mesh::dy),
            static_cast<int>(s.z[slot] / mesh::dz)};
}

// Records spread over a few cells and both kinds, with weights of 1 to 4
// charges and random velocities; fields all distinct, so a survivor can be
// traced back to the record whose state it took.
void fill_random(Store& s, int n, double sign, int kinds, int first_kind, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(0.05, 0.95);
    std::normal_distribution<double> v(0.0, 1e7);
    for (int m = 0; m < n; ++m) {
        const CellPoint p = in_cell(20 + m % 3, 40 + m % 5, 2, u(rng), u(rng), u(rng));
        add_particle(s, sign * E * (1 + m % 4), 1e-7 + 1e-12 * u(rng), p.x, p.y, p.z, v(rng), v(rng), v(rng),
                     first_kind + (m / 7) % kinds);
    }
}

using Group = std::tuple<int, int, int, int>;  // cell and kind

std::map<Group, double> charge_by_group(const Store& s) {
    std::map<Group, double> q;
    for (int slot = 1; slot <= s.count; ++slot) {
        if (s.alive[slot] == 0) continue;
        const auto [i, j, k] = cell_of(s, slot);
        q[{i, j, k, s.species[slot]}] += s.w[slot];
    }
    return q;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST_F(Merging, KeepsTheChargeOfEachCellAndKindAndSurvivorsAreOriginalRecords) {
    std::mt19937_64 rng(7);
    fill_random(ions, 6000, +1.0, 2, 1, rng);
    const std::map<Group, double> before = charge_by_group(ions);
    // Every original state, keyed by its x, which is unique.
    std::map<double, Particle> originals;
    for (int slot = 1; slot <= ions.count; ++slot)
        originals[ions.x[slot]] = {ions.w[slot], ions.t[slot], ions.x[slot], ions.y[slot], ions.z[slot],
                                   ions.vx[slot], ions.vy[slot], ions.vz[slot], ions.species[slot]};

    EXPECT_EQ(particle_merging::merge_down(ions, 2000, 0), 4000);
    EXPECT_EQ(ions.count, 2000);  // merged down and squeezed: no dead slot left
    EXPECT_EQ(live_count(ions), 2000);

    const std::map<Group, double> after = charge_by_group(ions);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [group, q] : before) EXPECT_NEAR(after.at(group), q, 1e-14 * q);

    for (int slot = 1; slot <= ions.count; ++slot) {
        const auto found = originals.find(ions.x[slot]);
        ASSERT_NE(found, originals.end()) << "slot " << slot << " has a position no record had";
        const Particle& o = found->second;
        EXPECT_TRUE(same_bits(o.y, ions.y[slot]) && same_bits(o.z, ions.z[slot]) && same_bits(o.t, ions.t[slot]));
        EXPECT_TRUE(same_bits(o.vx, ions.vx[slot]) && same_bits(o.vy, ions.vy[slot]) &&
                    same_bits(o.vz, ions.vz[slot]));
        EXPECT_EQ(o.species, ions.species[slot]);
        EXPECT_GE(ions.w[slot], o.w);  // a survivor only gains weight, never changes sign
    }
}

TEST_F(Merging, NeverPairsAcrossCellsOriginCodesOrTheKeptSlot) {
    // Same velocity everywhere, so only the grouping can keep them apart.
    const CellPoint a = in_cell(30, 60, 3, 0.99), b = in_cell(31, 60, 3, 0.01);  // neighbours across a face
    for (int origin = 0; origin <= 2; ++origin) add_particle(electrons, -E, 0.0, a.x, a.y, a.z, 1e7, 0, 0, origin);
    add_particle(electrons, -E, 0.0, b.x, b.y, b.z, 1e7, 0, 0, 0);
    EXPECT_EQ(particle_merging::merge_down(electrons, 1, 0), 0);
    EXPECT_EQ(electrons.count, 4);

    // Slot 3 is the walk's cursor: slots 1 and 2 may pair, 4 and 5 may pair,
    // nothing pairs with 3 or across it.
    PARTICLE_STORAGE::reset();
    for (int m = 1; m <= 5; ++m) add_particle(electrons, -E * m, 0.0, a.x, a.y, a.z, 1e7 + m, 0, 0, 1);
    electrons.cursor = 3;
    EXPECT_EQ(particle_merging::merge_down(electrons, 1, 3), 2);
    ASSERT_EQ(electrons.count, 3);
    EXPECT_EQ(electrons.cursor, 2);  // the cursor's record moved down by one slot
    EXPECT_EQ(electrons.w[2], -3 * E);
    EXPECT_EQ(electrons.vx[2], 1e7 + 3);
    EXPECT_DOUBLE_EQ(electrons.w[1], -3 * E);  // slots 1 and 2 merged
    EXPECT_DOUBLE_EQ(electrons.w[3], -9 * E);  // slots 4 and 5 merged
}

TEST_F(Merging, TheSurvivorIsChosenInProportionToItsWeight) {
    // Pairs of a light (one charge) and a heavy (three charges) electron, each
    // pair alone in its cell.
    constexpr int PAIRS = 4000;
    for (int n = 0; n < PAIRS; ++n) {
        const CellPoint light = in_cell(10 + n % 40, 10 + n / 40, 4, 0.3), heavy = in_cell(10 + n % 40, 10 + n / 40, 4, 0.6);
        add_particle(electrons, -E, 0.0, light.x, light.y, light.z, 1e7, 0, 0, 0);
        add_particle(electrons, -3 * E, 0.0, heavy.x, heavy.y, heavy.z, 1e7, 0, 0, 0);
    }
    EXPECT_EQ(particle_merging::merge_down(electrons, PAIRS, 0), PAIRS);
    int heavy_kept = 0;
    for (int slot = 1; slot <= electrons.count; ++slot) {
        EXPECT_NEAR(electrons.w[slot], -4 * E, 1e-15 * E);
        const double f = electrons.x[slot] / mesh::dx - std::floor(electrons.x[slot] / mesh::dx);
        if (f > 0.5) ++heavy_kept;
    }
    // Binomial with p = 3/4: standard deviation 0.0068 of the fraction.
    EXPECT_NEAR(static_cast<double>(heavy_kept) / PAIRS, 0.75, 0.03);
}

TEST_F(Merging, MergedElectronsKeepTheEnergyOnAverage) {
    // Light slow and heavy fast electrons: a choice not weighted by w, or a
    // merged record counted once, would change the energy by a quarter.
    constexpr int PAIRS = 3000;
    double before = 0.0;  // sum of |w| v^2
    for (int n = 0; n < PAIRS; ++n) {
        const CellPoint p = in_cell(10 + n % 50, 10 + n / 50, 5);
        add_particle(electrons, -E, 0.0, p.x, p.y, p.z, 1e7, 0, 0, 2);
        add_particle(electrons, -3 * E, 0.0, p.x, p.y, p.z, 0, -3e7, 0, 2);
        before += E * 1e14 + 3 * E * 9e14;
    }
    particle_merging::merge_down(electrons, PAIRS, 0);
    double after = 0.0;
    for (int slot = 1; slot <= electrons.count; ++slot)
        after += std::fabs(electrons.w[slot]) * (electrons.vx[slot] * electrons.vx[slot] + electrons.vy[slot] * electrons.vy[slot]);
    // Standard deviation of the ratio: about 0.6 %.
    EXPECT_NEAR(after / before, 1.0, 0.03);
}

TEST_F(Merging, StopsWhenTargetIsReachedAndMergesAgainWhenOnePassIsNotEnough) {
    const CellPoint p = in_cell(25, 25, 5);
    for (int m = 0; m < 100; ++m) add_particle(ions, E, 0.0, p.x, p.y, p.z, 1e5 * m, 0, 0, 1);
    EXPECT_EQ(particle_merging::merge_down(ions, 80, 0), 20);
    EXPECT_EQ(ions.count, 80);
    // 80 down to 10 needs more than one round of neighbour pairs.
    EXPECT_EQ(particle_merging::merge_down(ions, 10, 0), 70);
    EXPECT_EQ(ions.count, 10);
    double q = 0.0;
    for (int slot = 1; slot <= ions.count; ++slot) q += ions.w[slot];
    EXPECT_NEAR(q, 100 * E, 1e-13 * E);
    EXPECT_NEAR(particle_merging::real_count(ions), 100.0, 1e-12);
    EXPECT_EQ(particle_merging::merge_down(ions, 10, 0), 0);  // already at the target
}

TEST_F(Merging, DependsOnlyOnTheSeedsAndWhatACheckpointRestores) {
    TempFolder folder;
    mesh::reset();
    build_geometry_quietly();  // a restart checks every position against the gas box
    std::mt19937_64 rng(11);
    fill_random(electrons, 3000, -1.0, 3, 0, rng);
    fill_random(ions, 3000, +1.0, 2, 1, rng);
    double saved_t = 1e-7, saved_dt = 1e-10;
    int saved_step = 10001;
    checkpoint::checkpoint_restart(0, saved_t, saved_step, saved_dt);

    auto merged_state = [] {
        particle_merging::merge_down(electrons, 1000, 0);
        particle_merging::merge_down(ions, 1000, 0);
        std::vector<double> state;
        for (const Store* s : {&electrons, &ions})
            for (int slot = 1; slot <= s->count; ++slot) state.insert(state.end(), {s->w[slot], s->x[slot], s->vz[slot]});
        return state;
    };
    const std::vector<double> first = merged_state();

    // A fresh program restored from the checkpoint merges to the same bits.
    PARTICLE_STORAGE::reset();
    particle_merging::reset();
    particle_merging::configure(0, 0, 1100, 550);
    double t = 0.0, dt = 0.0;
    int nstep = 1;
    checkpoint::checkpoint_restart(1, t, nstep, dt);
    const std::vector<double> restored = merged_state();
    ASSERT_EQ(restored.size(), first.size());
    EXPECT_EQ(std::memcmp(restored.data(), first.data(), first.size() * sizeof(double)), 0);

    // Other seeds make other choices.
    PARTICLE_STORAGE::reset();
    particle_merging::reset();
    particle_merging::configure(0, 0, 1101, 550);
    checkpoint::checkpoint_restart(1, t, nstep, dt);
    const std::vector<double> reseeded = merged_state();
    ASSERT_EQ(reseeded.size(), first.size());
    EXPECT_NE(std::memcmp(reseeded.data(), first.data(), first.size() * sizeof(double)), 0);
}

TEST_F(Merging, AFullStoreMakesRoomDuringAWalkWithoutDisturbingIt) {
    particle_merging::configure(0, 1000, 1100, 550);
    ASSERT_EQ(electrons.capacity, 2001);  // twice the cap, and slot 0
    // Full, in a few cells; the walk is in the middle.
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(0.1, 0.9);
    const int cursor = 800;
    for (int slot = 1; slot <= 2000; ++slot) {
        const CellPoint p = in_cell(15 + slot % 4, 30 + slot % 3, 1, u(rng), u(rng), u(rng));
        add_particle(electrons, -E * (1 + slot % 2), 1e-9, p.x, p.y, p.z, 1e6 * u(rng), 0, 0, slot % 3);
    }
    // Charge the walk has passed and charge still to come.
    auto charge_around = [](int at, double& before, double& after) {
        before = after = 0.0;
        for (int slot = 1; slot < at; ++slot) before += electrons.w[slot];
        for (int slot = at + 1; slot <= electrons.count; ++slot) after += electrons.w[slot];
    };
    double visited_charge, coming_charge;
    charge_around(cursor, visited_charge, coming_charge);
    electrons.cursor = cursor;
    const double walked_x = electrons.x[cursor];
    add_particle(electrons, -2 * E, 5e-10, 0.001, 0.02, 0.003, 0, 0, 0, 0);  // a birth: no stop

    ASSERT_LE(electrons.count, 752);  // three quarters of the cap, the kept record and the birth
    EXPECT_EQ(electrons.x[electrons.cursor], walked_x);  // the walk goes on with its record
    EXPECT_EQ(electrons.w[electrons.count], -2 * E);     // the birth is appended last
    double visited, coming;
    charge_around(electrons.cursor, visited, coming);
    coming -= -2 * E;  // the birth
    EXPECT_NEAR(visited, visited_charge, 1e-10 * std::fabs(visited_charge));
    EXPECT_NEAR(coming, coming_charge, 1e-10 * std::fabs(coming_charge));
}

TEST_F(Merging, AStoreThatCannotMergeGrowsAndACapAboveTheBuiltInRoomEnlargesIt) {
    particle_merging::configure(300000, 1000, 1100, 550);
    EXPECT_GE(ions.capacity, 600001);
    for (int n = 0; n < 460000; ++n) add_particle(ions, E, 0.0, 0.004, 0.03, 0.004, 0, 0, 0, 1);
    EXPECT_EQ(ions.count, 460000);

    // Every electron alone in its cell: merging frees nothing.
    ASSERT_EQ(electrons.capacity, 2001);
    double last_z = 0.0;
    for (int n = 0; n < 2000; ++n) {
        const CellPoint p = in_cell(n % mesh::PX, n / mesh::PX, 3);
        add_particle(electrons, -E, 0.0, p.x, p.y, p.z, 0, 0, 0, 0);
        last_z = p.z;
    }
    add_particle(electrons, -E, 0.0, 0.001, 0.001, 0.001, 0, 0, 0, 0);
    EXPECT_EQ(electrons.count, 2001);
    EXPECT_EQ(electrons.capacity, 3001);
    EXPECT_EQ(electrons.x[1], 0.5 * mesh::dx);  // records kept through the move
    EXPECT_EQ(electrons.z[2000], last_z);
}

// With identities (the parallel mode), a merged record goes on with the
// identity and draws of the partner whose state it took, wherever the in-order
// compaction puts it.
TEST_F(Merging, ASurvivorKeepsTheIdentityAndDrawsOfThePartnerWhoseStateItTook) {
    keep_identities(electrons);
    std::mt19937_64 rng(5);
    fill_random(electrons, 400, -1.0, 3, 0, rng);
    std::map<double, std::pair<std::uint64_t, std::uint64_t>> by_velocity;  // vx is distinct per record
    for (int slot = 1; slot <= electrons.count; ++slot) {
        electrons.id[slot] = 9000 + static_cast<std::uint64_t>(slot);
        electrons.draws[slot] = 3 * static_cast<std::uint64_t>(slot);
        by_velocity[electrons.vx[slot]] = {electrons.id[slot], electrons.draws[slot]};
    }
    ASSERT_GT(particle_merging::merge_down(electrons, 150, 0), 200);
    int moved = 0;
    for (int slot = 1; slot <= electrons.count; ++slot) {
        const auto& [id, draws] = by_velocity.at(electrons.vx[slot]);
        EXPECT_EQ(electrons.id[slot], id) << slot;
        EXPECT_EQ(electrons.draws[slot], draws) << slot;
        moved += electrons.id[slot] != 9000 + static_cast<std::uint64_t>(slot);
    }
    EXPECT_GT(moved, 0);  // the compaction did move records
}
