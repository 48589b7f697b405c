#include "particles/particle_streams.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace particle_streams;

namespace {

const Key RUN_KEY = key_for_seeds(1100, 550);

// The three Philox4x32 10-round lines of the known-answer file that Random123
// ships (tests/kat_vectors in its source, kat_vectors.gz in Debian's
// librandom123-doc): counter words, key words, expected output words.
struct KnownAnswer {
    Block counter;
    std::uint32_t key0, key1;
    Block expected;
};
const KnownAnswer PHILOX4X32_10_KAT[] = {
    {{{0x00000000, 0x00000000, 0x00000000, 0x00000000}}, 0x00000000, 0x00000000,
     {{0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8}}},
    {{{0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff}}, 0xffffffff, 0xffffffff,
     {{0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd}}},
    {{{0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344}}, 0xa4093822, 0x299f31d0,
     {{0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1}}},
};

std::uint64_t join(std::uint32_t lo, std::uint32_t hi) { return (std::uint64_t{hi} << 32) | lo; }

}  // namespace

TEST(ParticleStreams, PhiloxMatchesThePublishedKnownAnswers) {
    for (const KnownAnswer& kat : PHILOX4X32_10_KAT) {
        const Block out = philox4x32_10(kat.counter, kat.key0, kat.key1);
        for (int w = 0; w < 4; ++w) EXPECT_EQ(out.word[w], kat.expected.word[w]) << "word " << w;
    }
}

TEST(ParticleStreams, DrawsComeFromTheDocumentedHalvesOfTheDocumentedBlock) {
    // Identity and block index with distinct high and low words, so that a
    // swapped or dropped word shows.
    const std::uint64_t id = 0x0123456789abcdefULL;
    const std::uint64_t block = 0x00000007fedcba98ULL;
    const Block out = philox4x32_10({{0x89abcdef, 0x01234567, 0xfedcba98, 0x00000007}}, 1100, 550);
    EXPECT_EQ(uniform_at(RUN_KEY, id, 2 * block), open_unit_from_bits(join(out.word[0], out.word[1])));
    EXPECT_EQ(uniform_at(RUN_KEY, id, 2 * block + 1), open_unit_from_bits(join(out.word[2], out.word[3])));
}

TEST(ParticleStreams, BitsBecomeMidpointsStrictlyInsideTheUnitInterval) {
    EXPECT_EQ(open_unit_from_bits(0), std::ldexp(1.0, -53));
    EXPECT_EQ(open_unit_from_bits(~std::uint64_t{0}), 1.0 - std::ldexp(1.0, -53));
    EXPECT_LT(open_unit_from_bits(~std::uint64_t{0}), 1.0);
    EXPECT_EQ(open_unit_from_bits(0xfff), open_unit_from_bits(0));  // low 12 bits unused
    EXPECT_EQ(open_unit_from_bits(0x1000), 3 * std::ldexp(1.0, -53));
    EXPECT_EQ(open_unit_from_bits(0x8000000000000000ULL), 0.5 + std::ldexp(1.0, -53));
    // u and 1 - u are both values: the complement of the bits mirrors exactly.
    for (std::uint64_t b : {0x0ULL, 0x123456789abcd000ULL, 0x7fffffffffffffffULL, 0xdeadbeefcafef00dULL})
        EXPECT_EQ(open_unit_from_bits(b) + open_unit_from_bits(~b), 1.0) << std::hex << b;
    EXPECT_GT(-std::log(open_unit_from_bits(0)), 36.0);
    EXPECT_LT(-std::log(open_unit_from_bits(0)), 37.0);
}

TEST(ParticleStreams, WalkingAStreamGivesDrawNumberCounterEachTimeWhereverItWasOpened) {
    const std::uint64_t id = 987654321987ULL;
    // Opened at an even and at an odd counter, reopened in the middle of a
    // block (as a checkpoint would): always the draw of the current counter.
    for (std::uint64_t start : {0ULL, 1ULL, 2ULL, 41ULL, (1ULL << 40) + 1}) {
        Stream s = open_stream(RUN_KEY, id, start);
        for (std::uint64_t n = start; n < start + 9; ++n) {
            ASSERT_EQ(s.counter, n);
            ASSERT_EQ(draw_uniform(s), uniform_at(RUN_KEY, id, n)) << "start " << start << " draw " << n;
        }
        Stream reopened = open_stream(RUN_KEY, id, s.counter);
        Stream walked = s;
        for (int k = 0; k < 5; ++k) ASSERT_EQ(draw_uniform(reopened), draw_uniform(walked));
        EXPECT_EQ(reopened.counter, start + 14);
    }
}

TEST(ParticleStreams, SameSeedsIdentityAndCounterGiveTheSameDrawsAnythingElseOthers) {
    const std::uint64_t id = 0x00000001000000ffULL;
    auto first_draws = [](const Key& key, std::uint64_t identity, std::uint64_t counter) {
        Stream s = open_stream(key, identity, counter);
        std::vector<double> u;
        for (int k = 0; k < 6; ++k) u.push_back(draw_uniform(s));
        return u;
    };
    const std::vector<double> reference = first_draws(RUN_KEY, id, 10);
    EXPECT_EQ(first_draws(key_for_seeds(1100, 550), id, 10), reference);
    EXPECT_NE(first_draws(key_for_seeds(1101, 550), id, 10), reference);
    EXPECT_NE(first_draws(key_for_seeds(1100, 551), id, 10), reference);
    EXPECT_NE(first_draws(key_for_seeds(550, 1100), id, 10), reference);
    EXPECT_NE(first_draws(RUN_KEY, id + 1, 10), reference);
    EXPECT_NE(first_draws(RUN_KEY, id ^ (1ULL << 32), 10), reference);  // high word only
    EXPECT_NE(first_draws(RUN_KEY, id, 12), reference);
    // A block index that differs only in its high word.
    EXPECT_NE(uniform_at(RUN_KEY, id, 10), uniform_at(RUN_KEY, id, 10 + (2ULL << 32)));
    // Two draws of one block are not the same number.
    EXPECT_NE(reference[0], reference[1]);
}

TEST(ParticleStreams, DrawsAreUniformWithinAndAcrossNeighbouringIdentities) {
    // 400 consecutive identities, 2,500 draws each: what a store of freshly
    // numbered particles would draw. Mean, variance, a 50-bin chi-square, the
    // exponential flight mean -log u, and the correlation of neighbours' draws.
    constexpr int IDS = 400, DRAWS = 2500, BINS = 50;
    constexpr double N = double(IDS) * DRAWS;
    std::vector<double> count(BINS, 0.0);
    double sum = 0, sum2 = 0, sum_log = 0, cross = 0;
    for (int i = 0; i < IDS; ++i) {
        Stream a = open_stream(RUN_KEY, i, 0);
        Stream b = open_stream(RUN_KEY, i + 1, 0);
        for (int n = 0; n < DRAWS; ++n) {
            const double u = draw_uniform(a);
            ASSERT_GT(u, 0.0);
            ASSERT_LT(u, 1.0);
            sum += u;
            sum2 += u * u;
            sum_log += -std::log(u);
            cross += (u - 0.5) * (draw_uniform(b) - 0.5);
            count[static_cast<int>(u * BINS)] += 1;
        }
    }
    const double mean = sum / N;
    EXPECT_NEAR(mean, 0.5, 5 * std::sqrt(1.0 / 12 / N));
    EXPECT_NEAR(sum2 / N - mean * mean, 1.0 / 12, 5 * std::sqrt(1.0 / 180 / N));
    EXPECT_NEAR(sum_log / N, 1.0, 5 / std::sqrt(N));
    EXPECT_NEAR(cross / N / (1.0 / 12), 0.0, 5 / std::sqrt(N));
    double chi2 = 0;
    for (double c : count) chi2 += (c - N / BINS) * (c - N / BINS) / (N / BINS);
    EXPECT_LT(chi2, 100.0);  // 49 degrees of freedom: beyond 100 is p < 1e-5
}

TEST(ParticleStreams, IdentitiesOfATallFamilyTreeNeverCollide) {
    // Each step's seeding starts a family; every particle has children at
    // several of its own counters, two per ionization-like event, over many
    // generations: about 1.3 million identities, all distinct.
    std::vector<std::uint64_t> all;
    std::vector<std::uint64_t> generation;
    for (std::uint64_t step = 0; step < 2000; step += 200)
        for (std::uint64_t index = 0; index < 45; ++index) generation.push_back(seed_identity(step, index));
    all = generation;
    while (all.size() < 1300000) {
        std::vector<std::uint64_t> next;
        for (std::size_t p = 0; p < generation.size() && all.size() + next.size() < 1300000; ++p) {
            for (std::uint64_t counter : {3ULL, 4ULL, 17ULL, 1ULL << 32}) {
                next.push_back(child_identity(generation[p], counter, CHILD_ELECTRON));
                next.push_back(child_identity(generation[p], counter, CHILD_ION));
            }
        }
        all.insert(all.end(), next.begin(), next.end());
        generation.swap(next);
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
}

TEST(ParticleStreams, IdentitiesDependOnEveryPartOfTheirOrigin) {
    const std::uint64_t parent = 0x00000005000000a0ULL;
    const std::uint64_t child = child_identity(parent, 12, CHILD_ELECTRON);
    EXPECT_EQ(child_identity(parent, 12, CHILD_ELECTRON), child);
    EXPECT_NE(child_identity(parent, 12, CHILD_ION), child);
    EXPECT_NE(child_identity(parent, 12, 2), child);
    EXPECT_NE(child_identity(parent, 13, CHILD_ELECTRON), child);
    EXPECT_NE(child_identity(parent, 12 + (1ULL << 32), CHILD_ELECTRON), child);
    EXPECT_NE(child_identity(parent ^ (1ULL << 40), 12, CHILD_ELECTRON), child);
    EXPECT_NE(child_identity(parent + 1, 12, CHILD_ELECTRON), child);
    EXPECT_NE(child, parent);
    // Step and index are not interchangeable, and a step counts beyond 32 bits.
    EXPECT_NE(seed_identity(200, 3), seed_identity(3, 200));
    EXPECT_NE(seed_identity(200, 3), seed_identity(200 + (1ULL << 32), 3));
    EXPECT_NE(seed_identity(0, 0), child_identity(0, 0, 0));
    // Not just a draw of the run's streams: identities are keyed apart from any
    // pair of seeds, so a child's identity is not its parent's next draw bits.
    const Key all_zero = key_for_seeds(0, 0);
    EXPECT_NE(open_unit_from_bits(child_identity(0, 0, 0)), uniform_at(all_zero, 0, 0));
}
