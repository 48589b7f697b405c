#include "particles/random_numbers.hpp"

namespace random_numbers {

namespace {
std::int32_t s1 = 1;
std::int32_t s2 = 1;
}  // namespace

double draw_uniform() {
    // Schrage's decomposition keeps 40014·s1 mod m1 within 32 bits.
    std::int32_t k1 = s1 / 53668;
    s1 = 40014 * (s1 - k1 * 53668) - k1 * 12211;
    if (s1 < 0) s1 += 2147483563;

    std::int32_t k2 = s2 / 52774;
    s2 = 40692 * (s2 - k2 * 52774) - k2 * 3791;
    if (s2 < 0) s2 += 2147483399;

    std::int32_t z = s1 - s2;
    if (z < 1) z += 2147483562;
    return z * 4.65661305739176e-10;
}

void set_seed(std::int32_t a, std::int32_t b) {
    if (a == 0) a = S1_LIMIT;
    if (b == 0) b = S2_LIMIT;
    for (int n = 0; n < 2 && a > S1_LIMIT; ++n) a -= S1_LIMIT;
    for (int n = 0; n < 2 && b > S2_LIMIT; ++n) b -= S2_LIMIT;
    s1 = a;
    s2 = b;
}

void get_seed(std::int32_t& a, std::int32_t& b) {
    a = s1;
    b = s2;
}

void reset() {
    s1 = 1;
    s2 = 1;
}

}  // namespace random_numbers
