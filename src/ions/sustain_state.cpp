#include "ions/sustain_state.hpp"

#include "common/fatal_error.hpp"
#include "common/output_streams.hpp"
#include "common/fortran_format.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/voltage_file.hpp"
#include "ions/floating_gap_solver.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace sustain_state {

double gap_potential = 0.0;
double transferable_charge = 0.0;
double transferable_density = 0.0;
int gas_node_count = 0;

using namespace mesh;

namespace {

constexpr const char* SUSTAIN_FILE = "SUSTAIN_STATE.txt";

int material(int i, int j, int k) { return material_map[padded(i, j, k)]; }

void write_label(std::FILE* out, const char* label) {
    fortran::write_line(out, fortran::FreeLine().item(label).str());
}

void write_sustain_file(double gap) {
    std::FILE* out = std::fopen(SUSTAIN_FILE, "w");
    if (out == nullptr) pdp::fatal(std::string("ERROR: Can't open file: ") + SUSTAIN_FILE);
    write_label(out, "number of transferable particles=");
    fortran::write_free_record(out, &transferable_charge, 1);
    write_label(out, "averaging density of transferable particles=");
    fortran::write_free_record(out, &transferable_density, 1);
    write_label(out, "potential of gap in sustain state=");
    fortran::write_free_record(out, &gap, 1);
    write_label(out, "VOL=");
    fortran::write_free_record(out, electrodes::electrode_voltage + 1, 40);
    write_label(out, "PHI=");
    fortran::write_free_record(out, phi, NODE_COUNT);
    write_label(out, "S1=");
    fortran::write_free_record(out, wall_charge_x, PADDED_COUNT);
    write_label(out, "S3=");
    fortran::write_free_record(out, wall_charge_z, PADDED_COUNT);
    std::fill(wall_charge_y, wall_charge_y + PADDED_COUNT, 0.0);
    output_streams::close_or_stop(out, SUSTAIN_FILE);
}

}  // namespace

double place_sustain_wall_charges() {
    // Surface charge eps0·eps·(field in the dielectric) with no field in the
    // gas; the dielectric field is taken over the half spacing between the
    // dielectric node and the interface. Stored per unit cell volume, so
    // divided by the spacing normal to the wall.
    // The x-wall and rib magnitudes are summed apart, then added.
    double sum_x = 0.0, sum_z = 0.0;
    for (int i = 1; i <= 66; ++i)
        for (int j = 1; j <= NY; ++j)
            for (int k = 1; k <= NZ; ++k) {
                const double delta = phi[node(i + 1, j, k)] - phi[node(i, j, k)];
                double& charge = wall_charge_x[padded(i + 1, j, k)];
                if (material(i, j, k) == 1 && material(i + 1, j, k) == 0) {  // front wall
                    charge = 2 * eps_node[node(i, j, k)] * (delta / dx) / (dx * INV_EPS0);
                    sum_x += std::fabs(charge);
                } else if (material(i, j, k) == 0 && material(i + 1, j, k) == 1) {  // rear wall
                    charge = -2 * eps_node[node(i + 1, j, k)] * (delta / dx) / (dx * INV_EPS0);
                    sum_x += std::fabs(charge);
                }
            }
    for (int k = 1; k <= 12; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (material(i, j, k) == 0 && material(i, j, k + 1) == 1) {  // rib wall
                    double& charge = wall_charge_z[padded(i, j, k + 1)];
                    charge = -2 * eps_node[node(i, j, k + 1)] *
                             ((phi[node(i, j, k + 1)] - phi[node(i, j, k)]) / dz) / (dz * INV_EPS0);
                    sum_z += std::fabs(charge);
                }
    return (sum_x + sum_z) * dx * dy * dz;
}

void prepare_sustain_state(int /*mode: always 1*/) {
    const int n = std::max(geometry::highest_electrode(), 0);
    for (int e = 1; e <= n; ++e) electrodes::electrode_voltage[e] = voltage_file::smart_start_voltage[e];

    std::fill(wall_charge_z, wall_charge_z + PADDED_COUNT, 0.0);
    std::fill(wall_charge_y, wall_charge_y + PADDED_COUNT, 0.0);
    std::fill(wall_charge_x, wall_charge_x + PADDED_COUNT, 0.0);
    std::fill(phi, phi + NODE_COUNT, 0.0);
    potential::apply_boundary_values();

    floating_gap::setup_sustain_coefficients();
    floating_gap::solve_floating_gap();

    // The gap potential as the last gas node holds it.
    double gap = floating_gap::gap_potential;
    for (int i = 2; i <= NX; ++i)
        for (int j = 1; j <= NY; ++j)
            for (int k = 1; k <= NZ; ++k)
                if (material(i, j, k) == 0) gap = phi[node(i, j, k)];

    transferable_charge = place_sustain_wall_charges();
    gas_node_count = 0;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (material(i, j, k) == 0) ++gas_node_count;
    transferable_density = transferable_charge / (gas_node_count * dx * dy * dz);
    gap_potential = gap;

    using fortran::FreeLine;
    fortran::write_line(stdout, FreeLine().item(gas_node_count).str());
    fortran::write_line(stdout, FreeLine().item("Dtr=").str());
    fortran::write_line(stdout, fortran::D(transferable_density, 14, 7) + fortran::D(transferable_charge, 14, 7));

    write_sustain_file(gap);

    const double max_s1 = *std::max_element(wall_charge_x, wall_charge_x + PADDED_COUNT);
    const double max_s3 = *std::max_element(wall_charge_z, wall_charge_z + PADDED_COUNT);
    fortran::write_line(stdout, FreeLine().item("max S1=").item(max_s1).str());
    fortran::write_line(stdout, FreeLine().item("max S3=").item(max_s3).str());
}

void reset() {
    gap_potential = transferable_charge = transferable_density = 0.0;
    gas_node_count = 0;
}

}  // namespace sustain_state
