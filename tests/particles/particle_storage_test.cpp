#include "particles/particle_storage.hpp"

#include "common/fatal_error.hpp"

#include <gtest/gtest.h>

using namespace PARTICLE_STORAGE;

namespace {

struct Storage : ::testing::Test {
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
};

// Appends a record whose fields all derive from tag, so that moves are visible.
void add_tagged(Store& s, double tag) {
    add_particle(s, tag, tag + 0.1, tag + 0.2, tag + 0.3, tag + 0.4, tag + 0.5, tag + 0.6, tag + 0.7,
                 static_cast<int>(tag));
}

}  // namespace

TEST_F(Storage, CapacityRefusesTheLastSlot) {
    ions.count = ION_CAPACITY - 2;  // 449,998 records already
    add_tagged(ions, 1.0);
    EXPECT_EQ(ions.count, 449999);
    testing::internal::CaptureStdout();
    EXPECT_THROW(add_tagged(ions, 2.0), pdp::FatalError);
    const std::string message = testing::internal::GetCapturedStdout();
    EXPECT_EQ(message.rfind("ERROR: There is not enough space in PARTICLE_STORAGE. Terminating\n", 0), 0u) << message;
    EXPECT_NE(message.find("--max-ions N and --max-electrons N"), std::string::npos) << message;
    EXPECT_EQ(ions.count, 449999);

    electrons.count = ELECTRON_CAPACITY - 2;
    add_tagged(electrons, 1.0);
    testing::internal::CaptureStdout();
    EXPECT_THROW(add_tagged(electrons, 2.0), pdp::FatalError);
    testing::internal::GetCapturedStdout();
}

TEST_F(Storage, WalkReadsRewritesAndStopsPastTheEnd) {
    add_tagged(electrons, 1.0);
    add_tagged(electrons, 2.0);
    rewind(electrons);
    Particle p{};
    ASSERT_TRUE(get_current(electrons, p));
    EXPECT_EQ(p.w, 1.0);
    EXPECT_EQ(p.vz, 1.7);
    EXPECT_EQ(p.species, 1);
    p.x = 9.0;
    set_current(electrons, p);
    advance(electrons);
    advance(electrons);
    Particle untouched{-1, -1, -1, -1, -1, -1, -1, -1, -1};
    EXPECT_FALSE(get_current(electrons, untouched));
    EXPECT_EQ(untouched.w, -1.0);
    EXPECT_EQ(untouched.species, -1);
    EXPECT_EQ(electrons.x[1], 9.0);
}

TEST_F(Storage, DeleteMarksDeadAndLeavesTheOtherFields) {
    delete_current(ions);  // empty store: nothing happens
    EXPECT_EQ(ions.alive[1], 0);
    add_tagged(ions, 3.0);
    rewind(ions);
    delete_current(ions);
    Particle p{};
    ASSERT_TRUE(get_current(ions, p));  // dead slots are still returned
    EXPECT_EQ(p.w, 0.0);
    EXPECT_EQ(p.x, 3.2);
    EXPECT_EQ(ions.alive[1], 0);
}

TEST_F(Storage, CompactionFillsHolesFromTheTop) {
    for (int n = 1; n <= 4; ++n) add_tagged(ions, n);
    delete_slot(ions, 1);
    delete_slot(ions, 3);
    ions.cursor = 4;
    compact(ions);
    EXPECT_EQ(ions.count, 2);
    EXPECT_EQ(ions.w[1], 4.0);
    EXPECT_EQ(ions.species[1], 4);
    EXPECT_EQ(ions.vz[1], 4.7);
    EXPECT_EQ(ions.w[2], 2.0);
    EXPECT_EQ(ions.cursor, 4);  // compaction leaves the cursor alone
    EXPECT_EQ(ions.alive[1] + ions.alive[2], 2);
}

TEST_F(Storage, CompactionOfDeadTopOnlyLowersTheCount) {
    for (int n = 1; n <= 5; ++n) add_tagged(electrons, n);
    delete_slot(electrons, 4);
    delete_slot(electrons, 5);
    compact(electrons);
    EXPECT_EQ(electrons.count, 3);
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(electrons.w[n], n);
}

TEST_F(Storage, CompactionKeepsExactlyTheLiveRecords) {
    // A mixed pattern: every live tag survives once, nothing dead remains.
    const int pattern[] = {0, 1, 1, 0, 0, 1, 0, 1, 1, 0, 1, 0};
    int live = 0;
    for (int n = 1; n <= 12; ++n) add_tagged(electrons, n);
    for (int n = 1; n <= 12; ++n) {
        if (pattern[n - 1] == 0) delete_slot(electrons, n);
        else ++live;
    }
    compact(electrons);
    ASSERT_EQ(electrons.count, live);
    int seen[13] = {};
    for (int n = 1; n <= electrons.count; ++n) {
        EXPECT_EQ(electrons.alive[n], 1);
        const int tag = electrons.species[n];
        EXPECT_EQ(pattern[tag - 1], 1);
        EXPECT_EQ(electrons.w[n], tag);
        ++seen[tag];
    }
    for (int n = 1; n <= 12; ++n) EXPECT_EQ(seen[n], pattern[n - 1]);
}

TEST_F(Storage, InOrderCompactionKeepsTheOrderAndTheCursorOnItsRecord) {
    for (int n = 1; n <= 8; ++n) add_tagged(ions, n);
    delete_slot(ions, 2);
    delete_slot(ions, 3);
    delete_slot(ions, 7);
    ions.cursor = 5;
    compact_in_order(ions);
    ASSERT_EQ(ions.count, 5);
    const double order[] = {1, 4, 5, 6, 8};
    for (int slot = 1; slot <= 5; ++slot) {
        EXPECT_EQ(ions.w[slot], order[slot - 1]);
        EXPECT_EQ(ions.vz[slot], order[slot - 1] + 0.7);
        EXPECT_EQ(ions.alive[slot], 1);
    }
    EXPECT_EQ(ions.cursor, 3);  // record 5 moved from slot 5 to slot 3
    EXPECT_EQ(live_count(ions), 5);

    // A dead cursor slot hands the cursor to the next live record; a cursor
    // past the end stays past the end.
    delete_slot(ions, 2);
    ions.cursor = 2;
    compact_in_order(ions);
    EXPECT_EQ(ions.w[ions.cursor], 5.0);
    delete_slot(ions, 1);
    ions.cursor = ions.count + 1;
    compact_in_order(ions);
    EXPECT_EQ(ions.cursor, ions.count + 1);
    EXPECT_EQ(ions.count, 3);
}

TEST_F(Storage, CapacityShrinksInPlaceGrowsIntoLargerRoomAndResetGivesTheBuiltInRoomBack) {
    for (int n = 1; n <= 3; ++n) add_tagged(electrons, n);
    const double* built_in = electrons.x;
    set_capacity(electrons, 4);  // room for three records, in the same arrays
    EXPECT_EQ(electrons.capacity, 4);
    EXPECT_EQ(electrons.x, built_in);
    testing::internal::CaptureStdout();
    EXPECT_THROW(add_tagged(electrons, 4.0), pdp::FatalError);
    EXPECT_THROW(set_capacity(electrons, 3), pdp::FatalError);  // would drop a record
    testing::internal::GetCapturedStdout();

    set_capacity(electrons, 3 * ELECTRON_CAPACITY);
    EXPECT_EQ(electrons.capacity, 3 * ELECTRON_CAPACITY);
    EXPECT_EQ(electrons.count, 3);
    EXPECT_EQ(electrons.y[2], 2.3);
    EXPECT_EQ(electrons.species[3], 3);
    electrons.count = 2 * ELECTRON_CAPACITY;
    add_tagged(electrons, 4.0);  // far beyond the built-in room
    EXPECT_EQ(electrons.x[2 * ELECTRON_CAPACITY + 1], 4.2);
    reset();
    EXPECT_EQ(electrons.capacity, ELECTRON_CAPACITY);
    EXPECT_EQ(electrons.x, built_in);
    EXPECT_EQ(electrons.make_room, nullptr);
    EXPECT_EQ(electrons.count, 0);
}

// Without identities (the exact mode) a store has no such arrays at all. With
// them, every copy of a record carries its identity and draws: both
// compactions, growth into larger room and slot access; a plain add starts
// the slot clean, whatever it held before.
TEST_F(Storage, IdentitiesAndDrawsFollowTheirRecordsWhereverTheyMove) {
    EXPECT_EQ(electrons.id, nullptr);
    EXPECT_EQ(electrons.draws, nullptr);
    keep_identities(electrons);
    ASSERT_NE(electrons.id, nullptr);
    for (int n = 1; n <= 6; ++n)
        add_record(electrons, {double(n), 0, 0, 0, 0, 0, 0, 0, n}, 100u + n, 10u * n);
    delete_slot(electrons, 2);
    delete_slot(electrons, 4);
    compact(electrons);  // slot 4 takes 6, slot 2 takes 5
    ASSERT_EQ(electrons.count, 4);
    for (int slot = 1; slot <= 4; ++slot) {
        const int tag = electrons.species[slot];
        EXPECT_EQ(electrons.id[slot], 100u + tag) << slot;
        EXPECT_EQ(electrons.draws[slot], 10u * tag) << slot;
    }
    delete_slot(electrons, 1);
    compact_in_order(electrons);
    ASSERT_EQ(electrons.count, 3);
    EXPECT_EQ(electrons.id[1], 105u);  // 5, 3, 6 in order
    EXPECT_EQ(electrons.draws[3], 60u);

    set_capacity(electrons, ELECTRON_CAPACITY + 1000);
    add_record(electrons, {7, 0, 0, 0, 0, 0, 0, 0, 7}, 107u, 70u);
    EXPECT_EQ(electrons.id[1], 105u);
    EXPECT_EQ(electrons.id[4], 107u);
    electrons.count = ELECTRON_CAPACITY + 500;  // a slot beyond the built-in room
    set_slot(electrons, electrons.count, {8, 0, 0, 0, 0, 0, 0, 0, 8});
    electrons.id[electrons.count] = 108u;
    Particle p{};
    get_slot(electrons, electrons.count, p);
    EXPECT_EQ(p.species, 8);
    EXPECT_EQ(electrons.id[electrons.count], 108u);

    electrons.count = 2;
    electrons.id[3] = 5555u, electrons.draws[3] = 66u;
    add_particle(electrons, 9, 0, 0, 0, 0, 0, 0, 0, 9);
    EXPECT_EQ(electrons.id[3], 0u);
    EXPECT_EQ(electrons.draws[3], 0u);

    reset();
    EXPECT_EQ(electrons.id, nullptr);
}
