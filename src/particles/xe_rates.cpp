#include "particles/xe_rates.hpp"

#include <algorithm>
#include <cmath>

namespace xe_rates {

namespace {

constexpr double PI = 3.141592653589793;

}  // namespace

double escape_factor(double xe, double ne, double gap, double ne_ratio) {
    const double width = SELF_BROADENING * (xe + ne_ratio * ne);  // Hz, Lorentz FWHM
    if (xe <= 0.0 || width <= 0.0 || gap <= 0.0) return 1.0;
    // k0 = (lambda^2 / 8 pi) (g2/g1) A N · 2 / (pi dnu), 1/cm.
    const double k0 = LAMBDA_RESONANT * LAMBDA_RESONANT * G_RATIO_RESONANT * A_RESONANT * xe / (4 * PI * PI * width);
    return std::min(1.0, 1.125 / std::sqrt(PI * k0 * gap));
}

double maxwell_rate_above(double (*sigma_v)(double energy), double threshold, double te) {
    // (2/sqrt(pi)) te^-3/2 int_0^inf sigma_v(E*+e') sqrt(E*+e') exp(-e'/te) de',
    // with u = e'/te: (2/sqrt(pi)) te^-1/2 int sigma_v sqrt(E*+u te) exp(-u) du,
    // Simpson to u = 60 (exp(-60): nothing left).
    constexpr int STEPS = 6000;  // even
    constexpr double U_END = 60.0;
    const double h = U_END / STEPS;
    double sum = 0.0;
    for (int i = 0; i <= STEPS; ++i) {
        const double u = i * h;
        const double energy = threshold + u * te;
        const double w = i == 0 || i == STEPS ? 1.0 : (i % 2 == 1 ? 4.0 : 2.0);
        sum += w * sigma_v(energy) * std::sqrt(energy) * std::exp(-u);
    }
    return 2.0 / std::sqrt(PI) / std::sqrt(te) * sum * h / 3.0;
}

Rates rates_for(const species::Fill& fill, double gap, double inverse_length2) {
    const double xe = fill.density * fill.xenon_fraction;  // cm^-3
    const double ne = fill.density - xe;
    Rates r{};
    r.escape_factor = escape_factor(xe, ne, gap, NE_BROADENING_RATIO);

    // Blanc's law for a trace of Xe* in the mixture, 1/cm^2·cm^2/s = 1/s.
    const double dn = 1.0 / (fill.xenon_fraction / DN_XE_IN_XE + (1 - fill.xenon_fraction) / DN_XE_IN_NE);
    const double atom_wall = dn / fill.density * inverse_length2;
    for (int s = 0; s < STATES; ++s) r.wall[s] = s <= HIGHER ? atom_wall : EXCIMER_DIFFUSION_RATIO * atom_wall;

    const double higher_out = A_HIGHER + K_HIGHER_XE * xe + K_HIGHER_NE * ne;
    const double down = K_MIX_XE * xe + K_MIX_NE * ne;  // 1s4 -> 1s5
    const double up = down * MIX_G_RATIO * std::exp(-MIX_GAP_EV / GAS_TEMPERATURE_EV);
    const double triplet_formation = (K3_METASTABLE_XE * xe + K3_METASTABLE_NE * ne) * xe;
    const double singlet_formation = (K3_RESONANT_XE * xe + K3_RESONANT_NE * ne) * xe;
    const double relax = K_RELAX_XE * xe + K_RELAX_NE * ne;
    const double resonant_decay = r.escape_factor * A_RESONANT;

    double (&m)[STATES][STATES] = r.matrix;
    m[METASTABLE][HIGHER] = HIGHER_TO_METASTABLE * higher_out;
    m[RESONANT][HIGHER] = (1 - HIGHER_TO_METASTABLE) * higher_out;
    m[HIGHER][HIGHER] = -higher_out;
    m[METASTABLE][RESONANT] = down;
    m[RESONANT][METASTABLE] = up;
    m[METASTABLE][METASTABLE] = -(up + triplet_formation);
    m[RESONANT][RESONANT] = -(down + singlet_formation + resonant_decay);
    m[SINGLET_HOT][RESONANT] = singlet_formation;
    m[SINGLET_HOT][SINGLET_HOT] = -(relax + A_SINGLET);
    m[SINGLET][SINGLET_HOT] = relax;
    m[SINGLET][SINGLET] = -A_SINGLET_RELAXED;
    m[TRIPLET][METASTABLE] = triplet_formation;
    m[TRIPLET][TRIPLET] = -A_TRIPLET;
    for (int s = 0; s < STATES; ++s) m[s][s] -= r.wall[s];

    r.emission[LINE_147][RESONANT] = resonant_decay;
    r.emission[LINE_150][SINGLET_HOT] = A_SINGLET;
    r.emission[LINE_173][SINGLET] = A_SINGLET_RELAXED;
    r.emission[LINE_173][TRIPLET] = A_TRIPLET;
    return r;
}

}  // namespace xe_rates
