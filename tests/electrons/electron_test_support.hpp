#pragma once
// Shared set-up of the electron tests: a clean world with the built-in gas box
// (or a box without walls) and helpers for speeds and random draws.
#include "electrons/collision_frequencies.hpp"
#include "electrons/electron_mover.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace electron_test {

inline double speed_of(double energy_ev) {
    return collision_frequencies::SPEED_PER_SQRT_EV * std::sqrt(energy_ev);
}

inline double energy_of(double vx, double vy, double vz) {
    const double s = std::sqrt(vx * vx + vy * vy + vz * vz) * collision_frequencies::SQRT_EV_PER_SPEED;
    return s * s;
}

// Everything zero, the gas box of the built-in cell, the run's seed.
inline void reset_world() {
    mesh::reset();
    PARTICLE_STORAGE::reset();
    random_numbers::reset();
    random_numbers::set_seed(1100, 550);
    electron_mover::reset();
    using namespace mesh;
    ilo = 15, ihi = 53, jlo = 2, jhi = 136, klo = 2, khi = 9;
    xlow = ilo * dx, xhigh = (ihi + 1) * dx;
    ylow = jlo * dy, yhigh = (jhi + 1) * dy;
    zlow = klo * dz, zhigh = (khi + 1) * dz;
}

// Walls and mirrors moved to infinity: electrons stay in the gas for good.
inline void remove_walls() {
    const double inf = std::numeric_limits<double>::infinity();
    mesh::xlow = mesh::ylow = mesh::zlow = -inf;
    mesh::xhigh = mesh::yhigh = mesh::zhigh = inf;
}

inline void fill_uniform_field(double Ex, double Ey, double Ez) {
    for (int n = 0; n < mesh::NODE_COUNT; ++n) {
        mesh::ex[n] = Ex;
        mesh::ey[n] = Ey;
        mesh::ez[n] = Ez;
    }
}

// Skips the first-call console line and the 1 % raise of numax, so that a
// test sees the bound of every later pass.
inline void pass_first_call() {
    testing::internal::CaptureStdout();
    electron_mover::advance_electrons(0.0);
    testing::internal::GetCapturedStdout();
}

inline double peek_draw() {
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    const double r = random_numbers::draw_uniform();
    random_numbers::set_seed(s1, s2);
    return r;
}

// Number of draws that lead from state (s1, s2) to the present state.
inline int draws_since(std::int32_t s1, std::int32_t s2) {
    std::int32_t now1, now2;
    random_numbers::get_seed(now1, now2);
    random_numbers::set_seed(s1, s2);
    std::int32_t a = s1, b = s2;
    int n = 0;
    while ((a != now1 || b != now2) && n < 1000) {
        random_numbers::draw_uniform();
        ++n;
        random_numbers::get_seed(a, b);
    }
    return n;
}

inline void add_electron(double x, double y, double z, double vx, double vy, double vz, double t = 0.0) {
    PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::electrons, -mesh::ELECTRON_CHARGE, t, x, y, z, vx, vy,
                                   vz, 0);
}

}  // namespace electron_test
