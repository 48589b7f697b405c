#include "driver/runaway_check.hpp"

#include "common/fatal_error.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_merging.hpp"
#include "particles/particle_storage.hpp"

#include <cmath>
#include <cstdio>
#include <string>

namespace runaway_check {

namespace {

// Real particles, ions and electrons, of the last GROWTH_STEPS steps; step k
// is kept in slot k % GROWTH_STEPS.
double history[GROWTH_STEPS];
int steps_seen = 0;

struct StoreSum {
    double real = 0.0;        // sum of |w|/e
    double largest = 0.0;     // largest |w|/e of one record
    bool finite = true;
};

StoreSum sum_of(const PARTICLE_STORAGE::Store& s) {
    StoreSum sum;
    for (int slot = 1; slot <= s.count; ++slot) {
        const double real = std::fabs(s.w[slot]) / mesh::ELECTRON_CHARGE;
        if (!std::isfinite(real)) sum.finite = false;
        sum.real += real;
        if (real > sum.largest) sum.largest = real;
    }
    return sum;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", v);
    return text;
}

[[noreturn]] void stop(int step, double t_end, const std::string& what, const StoreSum& ions, const StoreSum& electrons) {
    pdp::fatal({"ERROR: the run has run away numerically in step " + std::to_string(step) + " (t = " +
                    number(t_end * 1e6) + " us): " + what,
                "       real ions " + number(ions.real) + ", real electrons " + number(electrons.real) + " in " +
                    std::to_string(PARTICLE_STORAGE::ions.count) + " and " +
                    std::to_string(PARTICLE_STORAGE::electrons.count) + " records",
                "       too few records carry this discharge: give more (--max-ions, --max-electrons),",
                "       or add --plasma-field, which keeps a dense discharge stable; the last",
                "       checkpoint, if any, is kept in file restart"});
}

}  // namespace

void start() { steps_seen = 0; }

void after_step(int step, double t_end) {
    if (!particle_merging::enabled()) return;
    const StoreSum ions = sum_of(PARTICLE_STORAGE::ions);
    const StoreSum electrons = sum_of(PARTICLE_STORAGE::electrons);
    const double total = ions.real + electrons.real;
    if (!ions.finite || !electrons.finite || !std::isfinite(total))
        stop(step, t_end, "a record's weight is not finite", ions, electrons);
    const double cell_volume = mesh::dx * mesh::dy * mesh::dz;  // cm^3
    const double largest = std::fmax(ions.largest, electrons.largest);
    if (largest > DENSITY_LIMIT * cell_volume)
        stop(step, t_end, "one record stands for " + number(largest / cell_volume) + " cm^-3 in its mesh cell", ions,
             electrons);
    const double gas_volume = (mesh::xhigh - mesh::xlow) * (mesh::yhigh - mesh::ylow) * (mesh::zhigh - mesh::zlow);
    if (total > DENSITY_LIMIT * gas_volume)
        stop(step, t_end, number(total / gas_volume) + " cm^-3 over the whole gas", ions, electrons);

    const double before = history[steps_seen % GROWTH_STEPS];  // GROWTH_STEPS steps ago, once seen
    if (steps_seen >= GROWTH_STEPS && total > GROWTH_FLOOR && total > GROWTH_LIMIT * before)
        stop(step, t_end,
             "the real particles grew from " + number(before) + " to " + number(total) + " within " +
                 std::to_string(GROWTH_STEPS) + " steps",
             ions, electrons);
    history[steps_seen % GROWTH_STEPS] = total;
    ++steps_seen;
}

void reset() { steps_seen = 0; }

}  // namespace runaway_check
