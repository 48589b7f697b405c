#pragma once
// Electrons as a fluid on the mesh nodes of the gas box: density n_e and
// energy density n_eps, moved by Scharfetter-Gummel fluxes in given face
// fields, with the local mean energy approximation (every coefficient a
// function of n_eps/n_e, from electron_transport_tables) and the energy
// equation's collision loss taken implicitly (Hagelaar and Kroesen, J. Comput.
// Phys. 159, 2000). The front, rear and rib walls absorb the outward flux
// (drift towards the wall plus the thermal flux); the other faces of the gas
// box mirror. The unit knows nothing of the time loop: the caller gives the
// face fields and the step, and takes the fluxes, births and wall tallies.
// step() takes explicit fluxes, so its step must stay below stable_step();
// step_implicit() takes them at the end of the step, for any step.
#include "mesh/mesh_arrays.hpp"

namespace electron_fluid {

struct Settings {
    bool absorbing_walls = true;  // false: every face of the gas box reflects
    bool collisions = true;       // false: no energy loss and no births
    bool energy_equation = true;  // false: the mean energy stays where it was set
    // Every axis periodic, walls and mirrors ignored: a box with a uniform
    // field is then an unbounded uniform swarm (the checks against the flights).
    bool periodic = false;
    // The implicit step's solves: their relative residual, and the
    // preconditioner (lines along x, or Jacobi's diagonal).
    double transport_tolerance = 1e-10;
    bool line_preconditioner = true;
};

// What one step did, summed over the gas box.
struct StepTally {
    double absorbed = 0;         // electrons into the walls
    double absorbed_energy = 0;  // eV carried into the walls
    double heating = 0;          // eV gained from the field
    double collision_loss = 0;   // eV lost in collisions
    double births_ne = 0;        // new Ne+ ions (and their electrons)
    double births_xe = 0;        // new Xe+ ions, Penning's included
    int density_iterations = 0;  // the implicit step's BiCGSTAB iterations
    int energy_iterations = 0;
};

// State per node, in cm^-3 and eV·cm^-3; outside the gas box they stay 0.
extern double density[mesh::NODE_COUNT];
extern double energy_density[mesh::NODE_COUNT];
// Fluxes of the last step through face (i,j,k), the one between node
// (i-1,j,k) and (i,j,k) along x (and likewise y, z), positive along the axis:
// electrons in cm^-2 s^-1, energy in eV cm^-2 s^-1. Wall faces hold the
// absorbed flux, mirror faces 0.
extern double flux_x[mesh::NODE_COUNT], flux_y[mesh::NODE_COUNT], flux_z[mesh::NODE_COUNT];
extern double energy_flux_x[mesh::NODE_COUNT], energy_flux_y[mesh::NODE_COUNT], energy_flux_z[mesh::NODE_COUNT];
// Ions born at each node in the last step, cm^-3 (to become ion records).
extern double births_ne[mesh::NODE_COUNT], births_xe[mesh::NODE_COUNT];
// Electrons absorbed by the wall face next to each wall node, per cm^2 of
// wall, summed over the steps since reset (to become wall charge).
extern double wall_electrons[mesh::NODE_COUNT];

void configure(const Settings& settings);
// Empties the fluid and puts the settings back (the built-in table stays).
void reset();

// Sets every gas node to this density (cm^-3) and mean energy (eV).
void set_uniform(double density, double mean_energy);
void set_node(int i, int j, int k, double density, double mean_energy);
double mean_energy(int n);  // eV at node offset n

// Fluxes through every face of the gas box for the face fields (V/cm, the
// mesh's ex, ey, ez layout); fills the flux arrays.
void compute_fluxes(const double* ex, const double* ey, const double* ez);
// The largest explicit step (s) for which the fluxes of the last
// compute_fluxes keep every density positive.
double stable_step();
// One step of dt (s) in these face fields: fluxes, their divergence, the
// field's heating, then births and the implicit collision loss.
StepTally step(double dt, const double* ex, const double* ey, const double* ez);
// The same step with the fluxes at its end (backward Euler), for steps far
// beyond stable_step(): the Scharfetter-Gummel coefficients from the mean
// energy at the start and the face fields held, one nonsymmetric system for
// n and one for n·eps (bicgstab), the heating from the new electron fluxes,
// the wall tallies from the new densities, then births and the implicit
// collision loss as in step(). The fluxes left in the flux arrays are those
// of the step's end.
StepTally step_implicit(double dt, const double* ex, const double* ey, const double* ez);

// What the field's semi-implicit solve for a step of dt (s) takes from the
// fluid, in the face fields of the step before (V/cm): the electron
// conductivity of each face between two gas nodes (S/cm, the ex, ey, ez
// layout; every other entry 0), the derivative of the Scharfetter-Gummel
// flux's current with respect to the face field (e·mu·(n_a + n_b)/2 in a
// weak field); and, added to charge_density (C/cm^3), the electrons' charge
// after an implicit step in the old field less what sigma·E_old moves in it
// (the solve puts back sigma·E_new). The fluid's state is left as it was;
// returns the iterations of the density solve.
int field_coupling(const double* ex, const double* ey, const double* ez, double dt, double* sigma_x, double* sigma_y,
                   double* sigma_z, double* charge_density);
// Adds the electrons' charge density (C/cm^3) to a node array.
void add_charge_density(double* charge_density);

// Total electrons and energy (eV) in the gas box.
double total_electrons();
double total_energy();

}  // namespace electron_fluid
