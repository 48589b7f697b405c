#include "particles/species.hpp"

namespace species {

Fill current_fill = BUILT_IN_FILL;

namespace {

// Blanc's law: 1/K = sum over the gases of (fraction / K in that gas), at
// the same total density; the mobility at density N is K·N0/N. Returned: the
// inverse mobility times the density, which the mean free time is
// inversely proportional to.
double drag(double density, double xenon_fraction, double k_in_ne, double k_in_xe) {
    return density * ((1 - xenon_fraction) / k_in_ne + xenon_fraction / k_in_xe);
}

}  // namespace

Fill fill_with(double density, double xenon_fraction) {
    Fill f = BUILT_IN_FILL;
    f.density = density;
    f.inv_density = density == BUILT_IN_DENSITY ? BUILT_IN_FILL.inv_density : 1 / density;
    f.xenon_fraction = xenon_fraction;
    // Partial densities over the built-in ones, each computed the same way on
    // both sides so that the built-in fill gives exactly 1.
    f.ne_scale = density * (1 - xenon_fraction) / (BUILT_IN_DENSITY * (1 - BUILT_IN_XENON_FRACTION));
    f.xe_scale = density * xenon_fraction / (BUILT_IN_DENSITY * BUILT_IN_XENON_FRACTION);
    f.tau_ne_ion = BUILT_IN_TAU_NE_ION *
                   (drag(BUILT_IN_DENSITY, BUILT_IN_XENON_FRACTION, K0_NE_ION_IN_NE, K0_NE_ION_IN_XE) /
                    drag(density, xenon_fraction, K0_NE_ION_IN_NE, K0_NE_ION_IN_XE));
    f.tau_xe_ion = BUILT_IN_TAU_XE_ION *
                   (drag(BUILT_IN_DENSITY, BUILT_IN_XENON_FRACTION, K0_XE_ION_IN_NE, K0_XE_ION_IN_XE) /
                    drag(density, xenon_fraction, K0_XE_ION_IN_NE, K0_XE_ION_IN_XE));
    f.ne_ion_mobility = QM_NE_ION * f.tau_ne_ion;
    f.xe_ion_mobility = QM_XE_ION * f.tau_xe_ion;
    return f;
}

void set_fill(const Fill& fill) { current_fill = fill; }

void reset() { current_fill = BUILT_IN_FILL; }

}  // namespace species
