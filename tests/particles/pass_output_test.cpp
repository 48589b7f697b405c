#include "particles/pass_output.hpp"

#include "particles/parallel_mode.hpp"
#include "particles/particle_streams.hpp"
#include "particles/random_numbers.hpp"

#include <gtest/gtest.h>

#include <vector>

using PARTICLE_STORAGE::Particle;
using PARTICLE_STORAGE::electrons;
using PARTICLE_STORAGE::ions;

namespace {

struct PassOutput : testing::Test {
    void SetUp() override {
        PARTICLE_STORAGE::reset();
        random_numbers::set_seed(1100, 550);
    }
    void TearDown() override {
        parallel_mode::reset();
        PARTICLE_STORAGE::reset();
    }
};

Particle at(double x) { return {-1.6021892e-19, 1e-11, x, 0.02, 0.004, 1e7, 0.0, 0.0, 2}; }

}  // namespace

// The exact mode writes at once and draws from the run's generator.
TEST_F(PassOutput, TheExactContextWritesAtOnceAndDrawsTheRunsNumbers) {
    pass_output::Context c = pass_output::exact();
    const double expected = random_numbers::draw_uniform();
    random_numbers::set_seed(1100, 550);
    EXPECT_EQ(pass_output::draw_uniform(c), expected);
    pass_output::add_electron(c, at(0.005), particle_streams::CHILD_ELECTRON);
    pass_output::add_ion(c, at(0.006), particle_streams::CHILD_ION);
    ASSERT_EQ(electrons.count, 1);
    ASSERT_EQ(ions.count, 1);
    EXPECT_EQ(electrons.x[1], 0.005);
    EXPECT_EQ(ions.x[1], 0.006);
    double cell = 1.0;
    pass_output::deposit(c, &cell, 0.25);
    EXPECT_EQ(cell, 1.25);
}

// A chunk keeps births and charge until the merge. A child's identity comes
// from its parent's identity and draws at the birth, and the two children of
// one event differ; the merge appends chunk by chunk, in order, new records
// at zero draws, and adds the charges in that same order.
TEST_F(PassOutput, ChunksHoldBirthsAndChargeAndMergeInChunkOrder) {
    parallel_mode::configure(true, 2, 1100, 550);
    std::vector<pass_output::Chunk> chunks(2);
    particle_streams::Stream parent0 = particle_streams::open_stream(parallel_mode::settings.key, 77, 0);
    particle_streams::Stream parent1 = particle_streams::open_stream(parallel_mode::settings.key, 78, 0);
    pass_output::Context c1{random_source::particle_stream(parent1), &chunks[1], 0, 0};
    pass_output::Context c0{random_source::particle_stream(parent0), &chunks[0], 0, 0};
    double cell = 0.0;
    // Chunk 1 works first, as another thread may.
    pass_output::draw_uniform(c1);
    pass_output::add_electron(c1, at(0.0071), particle_streams::CHILD_ELECTRON);
    pass_output::deposit(c1, &cell, 1.0);
    c1.flights = 5;
    for (int n = 0; n < 3; ++n) pass_output::draw_uniform(c0);
    pass_output::add_electron(c0, at(0.0051), particle_streams::CHILD_ELECTRON);
    pass_output::add_ion(c0, at(0.0052), particle_streams::CHILD_ION);
    pass_output::deposit(c0, &cell, 1e16);
    pass_output::deposit(c0, &cell, -1e16);
    EXPECT_EQ(electrons.count, 0);
    EXPECT_EQ(cell, 0.0);
    chunks[0].flights = 3, chunks[1].flights = c1.flights;

    ASSERT_EQ(chunks[0].electrons.size(), 1u);
    EXPECT_EQ(chunks[0].electrons[0].id, particle_streams::child_identity(77, 3, particle_streams::CHILD_ELECTRON));
    EXPECT_EQ(chunks[0].ions[0].id, particle_streams::child_identity(77, 3, particle_streams::CHILD_ION));
    EXPECT_NE(chunks[0].electrons[0].id, chunks[0].ions[0].id);
    EXPECT_EQ(chunks[1].electrons[0].id, particle_streams::child_identity(78, 1, particle_streams::CHILD_ELECTRON));

    electrons.draws[1] = 99;  // a stale counter in the slot the first birth takes
    long long flights = 10, substeps = 0;
    pass_output::merge(chunks, 2, flights, substeps);
    ASSERT_EQ(electrons.count, 2);
    EXPECT_EQ(electrons.x[1], 0.0051);  // chunk 0 first
    EXPECT_EQ(electrons.x[2], 0.0071);
    EXPECT_EQ(electrons.id[1], chunks[0].electrons[0].id);
    EXPECT_EQ(electrons.id[2], chunks[1].electrons[0].id);
    EXPECT_EQ(electrons.draws[1], 0u);
    EXPECT_EQ(ions.count, 1);
    EXPECT_EQ(ions.id[1], chunks[0].ions[0].id);
    // In chunk order 1e16 - 1e16 + 1 = 1; chunk 1 first would lose the 1 in 1e16.
    EXPECT_EQ(cell, 1.0);
    EXPECT_EQ(flights, 18);

    pass_output::clear(chunks[0]);
    EXPECT_TRUE(chunks[0].electrons.empty() && chunks[0].ions.empty() && chunks[0].deposits.empty());
    EXPECT_EQ(chunks[0].flights, 0);
}
