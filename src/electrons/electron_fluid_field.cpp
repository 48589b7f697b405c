#include "electrons/electron_fluid_field.hpp"

#include "mesh/charge_and_field.hpp"
#include "mesh/conducting_solve.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/plasma_field.hpp"

#include <algorithm>

namespace electron_fluid_field {

namespace {

double charge_density[mesh::NODE_COUNT];  // C/cm^3
double sigma_x[mesh::NODE_COUNT], sigma_y[mesh::NODE_COUNT], sigma_z[mesh::NODE_COUNT];  // S/cm

}  // namespace

int solve_field(double dt, Order order) {
    using namespace mesh;
    field::build_charge_source();
    std::fill(charge_density, charge_density + NODE_COUNT, 0.0);
    if (order == Order::semi_implicit) {
        electron_fluid::field_coupling(ex, ey, ez, dt, sigma_x, sigma_y, sigma_z, charge_density);
        plasma_field::add_charge_density(charge_density);
        plasma_field::load_face_conductivities(sigma_x, sigma_y, sigma_z, dt);
    } else {
        electron_fluid::add_charge_density(charge_density);
        plasma_field::add_charge_density(charge_density);
    }
    conducting_solve::solve_potential();
    plasma_field::restore_vacuum_couplings();
    field::compute_field();
    return conducting_solve::iterations_in_last_solve;
}

electron_fluid::StepTally step(double dt, Order order) {
    solve_field(dt, order);
    return electron_fluid::step_implicit(dt, mesh::ex, mesh::ey, mesh::ez);
}

}  // namespace electron_fluid_field
