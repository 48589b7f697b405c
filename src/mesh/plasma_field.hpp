#pragma once
// The field of a dense discharge. Two changes to the plain solve:
// - the electrons' charge joins the source, so a quasi-neutral plasma has no
//   space-charge field;
// - the solve is semi-implicit in the particles' current: it finds the field
//   that is consistent with the charge the electrons (and ions) will have
//   moved by the end of the time dt_f in which the field stays frozen,
//       div((eps0·eps + dt_f·sigma) grad phi) = -rho,
//       sigma = e·(mu_e·n_e + mu_Ne+·n_Ne+ + mu_Xe+·n_Xe+),
//   which damps a charge separation instead of overshooting it when the
//   dielectric relaxation time eps0/sigma is far shorter than dt_f.
namespace plasma_field {

// The conductivity takes the mobilities of particles/species: the ions'
// matter where ions far outnumber electrons, as in a cathode sheath of
// 1e15 cm^-3 with the field frozen for a step.

// Electron mobility in the run's gas, cm^2/(V·s).
double electron_mobility();

// The space charge and the conductivity of the solve are smoothed over the
// gas. A merged run carries a dense plasma in a few heavy records (1e5
// electrons and more each at 1e15 cm^-3, one to four per node), and an
// electron diffuses some 20 um in a step: a record's charge and conductivity,
// put on the nodes of one cell and frozen there for the step, can give fields
// of 1e4 to 1e5 V/cm where the record has already gone, and ionization in
// them (the long example ran away that way). Smoothing, the standard filter
// of particle-in-cell codes against such grid-scale noise, spreads both over
// cells the electrons cover in a step.
// Two passes of 1-2-1 per axis, a 1-4-6-4-1 kernel: +-4 um in x, +-10 um in y,
// +-20 um in z.
constexpr int SMOOTHING_PASSES = 2;

// Binomial (1-2-1) smoothing along x, y and z of a node array over the gas
// nodes, SMOOTHING_PASSES times: a gas node's neighbour across a wall or a
// mirror plane counts as the node itself, so the sum over the gas is kept (no
// charge crosses a wall) and a uniform array stays uniform to the bit; other
// nodes are left alone.
void smooth_over_gas(double* values);

// Adds the electron charge density to charge_source on every gas node and
// replaces the ion and electron space charge there by its smoothing (the wall
// charge stays as it is); call it after field::build_charge_source().
void add_electron_charge();

// Writes into the face couplings (mesh::eps_face_*) the gas-to-gas couplings
// eps + frozen_time·sigma/eps0 (times area over spacing), with sigma the mean
// of the two nodes' smoothed conductivities. Only the conjugate-gradient
// solve reads them; the relaxation's coefficients stay the vacuum ones (a
// caller that wants the relaxation on them calls
// potential::setup_sor_coefficients()). Faces that touch a dielectric keep
// their vacuum coupling: electrons reaching a wall become wall charge in the
// movers, and the wall-charge split and the gas-side field at a surface rest
// on that coupling. frozen_time in s.
void load_conducting_couplings(double frozen_time);
// Electrons held as a fluid instead of records (electron_fluid, through
// electron_fluid_field) bring their own charge and face conductivities: a
// fluid's density is smooth, and the conductivity of a face is the
// derivative of its flux with respect to the face field, so neither the
// smoothing nor an assumed mobility enters.
// Adds the charge density (C/cm^3, node array) on the gas nodes to
// charge_source as it is; call it after field::build_charge_source().
void add_charge_density(const double* charge_density);
// As load_conducting_couplings, with the face conductivities given (S/cm, in
// the ex, ey, ez layout of the faces) instead of the smoothed nodes' mean.
void load_face_conductivities(const double* sigma_x, const double* sigma_y, const double* sigma_z,
                              double frozen_time);
// Puts the vacuum couplings back into the face couplings, as every other
// solve (sustain state, floating gap) expects. Nothing is allocated or
// rebuilt: the relaxation's coefficients were never changed.
void restore_vacuum_couplings();

// Real electrons above which the field is solved in every step instead of
// every interval. Spread over the gas (4.2e-6 cm^3) they are 2.4e10 cm^-3,
// where eps0/sigma reaches the 10 ns interval; above it the electrons
// multiply or drain within a few steps, faster than a field frozen for an
// interval can follow.
constexpr double DENSE_ELECTRONS = 1e5;

// Whether the field phase is due in step n (counted from 0): every interval
// steps, and in every step while the electrons are dense, their charge (C,
// the sum of |w| over the records) above DENSE_ELECTRONS elementary charges.
// The answer holds for the solve of the same step.
bool field_due(int n, int interval, double electron_charge);

// The field phase's solve, where the plain solve would be called: electrons
// into the source, conducting couplings for the time the field stays frozen
// (one step while dense, else the interval), conducting_solve::solve_potential()
// (a point relaxation cannot handle the contrast between plasma and vacuum
// couplings), vacuum couplings back. time_step in s.
void solve_potential(double time_step, int interval);

void reset();

}  // namespace plasma_field
