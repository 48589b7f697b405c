#pragma once
// The cell's response to its electrodes, for currents by the Ramo-Shockley
// theorem: the unit potential of each electrode (that electrode at 1 V, the
// others at 0 V, no charge anywhere) and the capacitance matrix. With them the
// charge on electrode e is
//     Q_e = sum_f C_ef·V_f - sum over charges q·psi_e(x_q),
// and its change in time is the current into it from the drive. Also the
// other solves of the report: a charge distribution's potential with every
// electrode at 0 V. Each solve uses the conjugate-gradient solve on the vacuum
// couplings and puts back everything of the run's own solve it touches, so
// the run goes on with the same bits.
#include "mesh/mesh_arrays.hpp"

namespace electrode_response {

constexpr int ELECTRODES = 3;  // S1, S2, address

// Potential (V) of electrode e + 1 at 1 V at node n: unit_potential[3·n + e].
extern double unit_potential[ELECTRODES * mesh::NODE_COUNT];
// C_ef (F): charge on electrode e + 1 per volt on electrode f + 1.
extern double capacitance[ELECTRODES][ELECTRODES];

// The three unit solves and the matrix; once, after the geometry is built.
void compute();
bool computed();

// Charge (C) on each electrode's plates under the node potential p (V):
// eps0 times the flux of the field out of them, with the solve's couplings.
void electrode_charges(const double* p, double charges[ELECTRODES]);
// Field energy (J) of the node potential p: eps0/2 times the sum over the
// faces of coupling·(difference of p)^2, plate faces included.
double field_energy(const double* p);
// Solves for the potential (V, into result) of node charges (C, per node)
// with every electrode at 0 V.
void solve_grounded(const double* node_charge, double* result);

void reset();

}  // namespace electrode_response
