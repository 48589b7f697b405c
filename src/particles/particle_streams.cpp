#include "particles/particle_streams.hpp"

#include <Random123/philox.h>

namespace particle_streams {

namespace {

// Identities are drawn from Philox under keys that no run can have: the seeds
// stay below 2^31, these keys have the top bit set. A child's key also carries
// its index within the event in its low 30 bits, clear of the seeding bit.
constexpr std::uint32_t CHILD_DOMAIN = 0x80000000u;
constexpr std::uint32_t SEEDING_DOMAIN = 0xC0000000u;
constexpr std::uint32_t DOMAIN_SALT = 0x9E3779B9u;

std::uint32_t low(std::uint64_t v) { return static_cast<std::uint32_t>(v); }
std::uint32_t high(std::uint64_t v) { return static_cast<std::uint32_t>(v >> 32); }
std::uint64_t join(std::uint32_t lo, std::uint32_t hi) { return (std::uint64_t{hi} << 32) | lo; }

// Philox of the 128-bit input (a, b), its two 64-bit halves.
void philox_pair(std::uint64_t a, std::uint64_t b, std::uint32_t key0, std::uint32_t key1,
                 std::uint64_t& first, std::uint64_t& second) {
    const philox4x32_ctr_t ctr = {{low(a), high(a), low(b), high(b)}};
    const philox4x32_key_t key = {{key0, key1}};
    const philox4x32_ctr_t out = philox4x32_R(10, ctr, key);
    first = join(out.v[0], out.v[1]);
    second = join(out.v[2], out.v[3]);
}

}  // namespace

// The top 52 bits as the midpoint of their cell: (k + 1/2)·2^-52. Every step
// is exact in double, the largest value is 1 - 2^-53 < 1 (53 bits would round
// the top midpoint up to 1).
double open_unit_from_bits(std::uint64_t bits) {
    constexpr double CELL = 1.0 / 4503599627370496.0;  // 2^-52
    return (static_cast<double>(bits >> 12) + 0.5) * CELL;
}

Key key_for_seeds(std::int32_t seed1, std::int32_t seed2) {
    return {static_cast<std::uint32_t>(seed1), static_cast<std::uint32_t>(seed2)};
}

Stream open_stream(const Key& key, std::uint64_t id, std::uint64_t counter) {
    return {key, id, counter};
}

double draw_uniform(Stream& s) {
    std::uint64_t bits;
    if (s.spare_ready && (s.counter & 1) != 0) {
        bits = s.spare;
        s.spare_ready = false;
    } else {
        std::uint64_t first, second;
        philox_pair(s.id, s.counter >> 1, s.key.seed1, s.key.seed2, first, second);
        if ((s.counter & 1) == 0) {
            bits = first;
            s.spare = second;
            s.spare_ready = true;
        } else {
            bits = second;
            s.spare_ready = false;
        }
    }
    ++s.counter;
    return open_unit_from_bits(bits);
}

double uniform_at(const Key& key, std::uint64_t id, std::uint64_t n) {
    std::uint64_t first, second;
    philox_pair(id, n >> 1, key.seed1, key.seed2, first, second);
    return open_unit_from_bits((n & 1) == 0 ? first : second);
}

std::uint64_t child_identity(std::uint64_t parent, std::uint64_t parent_counter, unsigned which) {
    std::uint64_t first, second;
    philox_pair(parent, parent_counter, CHILD_DOMAIN | (which & (CHILD_INDEX_LIMIT - 1)), DOMAIN_SALT,
                first, second);
    return first;
}

std::uint64_t seed_identity(std::uint64_t step, std::uint64_t index) {
    std::uint64_t first, second;
    philox_pair(step, index, SEEDING_DOMAIN, DOMAIN_SALT, first, second);
    return first;
}

Block philox4x32_10(const Block& counter, std::uint32_t key0, std::uint32_t key1) {
    const philox4x32_ctr_t ctr = {{counter.word[0], counter.word[1], counter.word[2], counter.word[3]}};
    const philox4x32_key_t key = {{key0, key1}};
    const philox4x32_ctr_t out = philox4x32_R(10, ctr, key);
    return {{out.v[0], out.v[1], out.v[2], out.v[3]}};
}

}  // namespace particle_streams
