#include "output/slices.hpp"

#include "common/fortran_format.hpp"
#include "common/output_streams.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"
#include "output/output_history.hpp"
#include "radiation/xe_kinetics.hpp"

#include <cstdio>
#include <string>
#include <vector>

namespace slices {

using namespace mesh;

namespace {

constexpr int NAME_FIELD = 100;  // quantity names are written blank-padded to this width

// The last three only with the VUV states (--vuv).
enum Quantity {
    ELECTRON_DENSITY,
    ION_DENSITY,
    ION_DENSITY_TOP,
    ELECTRON_DENSITY_TOP,
    POTENTIAL,
    XE_1S5_DENSITY,
    XE_1S4_DENSITY,
    EXCIMER_DENSITY
};
constexpr int QUANTITY_COUNT = 8;
const char* const QUANTITY_NAME[QUANTITY_COUNT] = {"Electron_Density", "Ion_Density",    "Ion_Density_top",
                                                   "Electron_Density_top", "Potential", "Xe_1s5_Density",
                                                   "Xe_1s4_Density",   "Xe2_Excimer_Density"};

int quantity_count() { return xe_kinetics::on() ? QUANTITY_COUNT : XE_1S5_DENSITY; }

bool first_call = true;
// A file continued after a restart that already holds its header.
bool has_header[QUANTITY_COUNT] = {};
// Output box: the nodes that are not outside the cell (the interior nodes).
int i0, i1, j0, j1, k0, k1;

std::string file_name(int q) { return std::string("OUT_") + QUANTITY_NAME[q] + ".2Ddata"; }

void find_output_box() {
    i0 = PX, j0 = PY, k0 = PZ;
    i1 = j1 = k1 = -1;
    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j)
            for (int i = 0; i < PX; ++i) {
                if (material_map[padded(i, j, k)] == -1) continue;
                if (i < i0) i0 = i;
                if (i > i1) i1 = i;
                if (j < j0) j0 = j;
                if (j > j1) j1 = j;
                if (k < k0) k0 = k;
                if (k > k1) k1 = k;
            }
}

bool is_top_view(int q) { return q == ION_DENSITY_TOP || q == ELECTRON_DENSITY_TOP; }

// The first grid direction is always y; the second is x for a section and z
// for a top view, which stacks the z profile twice (mirrored, then direct).
std::vector<std::string> header_lines(int q) {
    using namespace fortran;
    const int ni = i1 - i0 + 1;
    const int nj = j1 - j0 + 1;
    const int nz = 2 * (k1 - k0) + 2;
    if (is_top_view(q))
        return {"scalar = 1 or vector = 2:", I(1, 2), "Grid size, x,z: (cm)",
                F((nj - 1) * dy, 11, 8) + X(2) + F((nz - 1) * dz, 11, 8), "Array dimensions:  (nx, nz)",
                I(nj, 4) + X(2) + I(nz, 4)};
    return {"scalar = 1 or vector = 2:", I(1, 2), "Grid size, x,y: (cm)",
            F((nj - 1) * dy, 11, 8) + X(2) + F((ni - 1) * dx, 11, 8), "Array dimensions:  (nx, ny)",
            I(nj, 4) + X(2) + I(ni, 4)};
}

std::string name_line(int q) {
    std::string field = QUANTITY_NAME[q];
    field.resize(NAME_FIELD, ' ');
    return fortran::X(1) + field;
}

int rows_per_block(int q) {
    if (is_top_view(q)) return 2 * (k1 - k0 + 1);
    return q == POTENTIAL ? i1 - i0 + 3 : i1 - i0 + 1;
}

// One row of values along y, each as ES12.4 followed by two blanks.
struct Row {
    std::string text;
    void start() { text = " "; }
    void add(double v) { text += fortran::ES(v, 12, 4) + "  "; }
};

// Ion or electron charge density at one node, C/cm^3.
double ion_charge(int i, int j, int k) { return ion_density[ion_slot(1, i, j, k)] + ion_density[ion_slot(2, i, j, k)]; }
double electron_charge(int i, int j, int k) { return electron_density[node(i, j, k)]; }

// Section rows in the lowest interior z plane, next to the mirror plane.
void write_section(std::FILE* out, int q) {
    Row row;
    const int first = q == POTENTIAL ? i0 - 1 : i0;  // the potential keeps the plate rows
    const int last = q == POTENTIAL ? i1 + 1 : i1;
    for (int i = first; i <= last; ++i) {
        row.start();
        for (int j = j0; j <= j1; ++j) {
            if (q == ELECTRON_DENSITY) row.add(-electron_density[node(i, j, k0)] / ELECTRON_CHARGE);
            else if (q == ION_DENSITY) row.add(ion_charge(i, j, k0) / ELECTRON_CHARGE);
            else if (q == XE_1S5_DENSITY) row.add(xe_kinetics::node_density(node(i, j, k0), xe_rates::METASTABLE));
            else if (q == XE_1S4_DENSITY) row.add(xe_kinetics::node_density(node(i, j, k0), xe_rates::RESONANT));
            else if (q == EXCIMER_DENSITY) row.add(xe_kinetics::excimer_density(node(i, j, k0)));
            else row.add(phi[node(i, j, k0)]);
        }
        fortran::write_line(out, row.text);
    }
}

// Column sums over x seen from the top; the electron sums keep their
// negative sign.
void write_top_row(std::FILE* out, int q, int k) {
    Row row;
    row.start();
    for (int j = j0; j <= j1; ++j) {
        double sum = 0.0;
        for (int i = i0; i <= i1; ++i) sum += q == ION_DENSITY_TOP ? ion_charge(i, j, k) : electron_charge(i, j, k);
        row.add(sum / ELECTRON_CHARGE);
    }
    fortran::write_line(out, row.text);
}

void write_top_view(std::FILE* out, int q) {
    for (int k = k1; k >= k0; --k) write_top_row(out, q, k);  // mirror image across z = zlow
    for (int k = k0; k <= k1; ++k) write_top_row(out, q, k);
}

}  // namespace

void write_slices(int, double t, int) {
    using namespace fortran;
    if (first_call) find_output_box();
    write_line(stdout, "");

    for (int q = 0; q < quantity_count(); ++q) {
        const std::string name = file_name(q);
        const int unit = FILE_MANAGER::OPENFILE(name, "WRITE");
        std::FILE* out = FILE_MANAGER::stream(unit);
        if (first_call && !has_header[q])
            for (const std::string& line : header_lines(q)) write_line(out, line);

        write_line(out, X(2) + "TIME");
        write_line(out, X(2) + ES(t, 20, 12));
        write_line(out, name_line(q));

        if (is_top_view(q)) write_top_view(out, q);
        else write_section(out, q);
        output_streams::flush_or_stop(out, name);  // a reader sees whole blocks while the run goes on
    }
    first_call = false;
}

void continue_files(double time) {
    find_output_box();
    for (int q = 0; q < quantity_count(); ++q) {
        const std::string name = file_name(q);
        const long kept = output_history::slice_file_length(name, header_lines(q), name_line(q), rows_per_block(q), time);
        output_history::cut_file(name, kept);
        FILE_MANAGER::OPENFILE_AT_END(name);
        has_header[q] = kept > 0;
    }
}

void reset() {
    first_call = true;
    for (bool& kept : has_header) kept = false;
}

}  // namespace slices
