#include "particles/random_source.hpp"

#include "particles/random_numbers.hpp"

#include <gtest/gtest.h>

#include <cstdint>

using namespace random_source;

namespace {

const particle_streams::Key RUN_KEY = particle_streams::key_for_seeds(1100, 550);

}  // namespace

TEST(RandomSource, TheRunGeneratorSourceDrawsTheRunSequenceAndNothingElse) {
    random_numbers::set_seed(1100, 550);
    double expected[6];
    for (double& u : expected) u = random_numbers::draw_uniform();

    random_numbers::set_seed(1100, 550);
    Source source = run_generator();
    for (double u : expected) EXPECT_EQ(draw_uniform(source), u);
    EXPECT_EQ(source.stream, nullptr);
    random_numbers::reset();
}

TEST(RandomSource, AParticleStreamSourceAdvancesOnlyThatStream) {
    random_numbers::set_seed(1100, 550);
    particle_streams::Stream stream = particle_streams::open_stream(RUN_KEY, 77, 5);
    Source source = particle_stream(stream);
    for (std::uint64_t n = 5; n < 11; ++n) EXPECT_EQ(draw_uniform(source), particle_streams::uniform_at(RUN_KEY, 77, n));
    EXPECT_EQ(stream.counter, 11u);
    // The run's generator has not moved: its next draw is still its first.
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    EXPECT_EQ(s1, 1100);
    EXPECT_EQ(s2, 550);
    random_numbers::reset();
}
