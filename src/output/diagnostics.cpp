#include "output/diagnostics.hpp"

#include "common/fortran_format.hpp"
#include "driver/main_program.hpp"
#include "input/electrode_voltages.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_merging.hpp"
#include "particles/particle_storage.hpp"

#include <cstdio>
#include <string>

namespace diagnostics {

using namespace mesh;

namespace {

// Peak of a node quantity and the first node where it is reached, scanning
// k slowest and i fastest, so that ties go to the earliest node.
struct Peak {
    double value;
    int i, j, k;
};

void put(const std::string& line) { fortran::write_line(stdout, line); }

// Smallest and largest value of a face array over the box of faces that
// bound or lie inside the gas region.
void print_range(const char* label, const double* face, int i1, int j1, int k1) {
    double lo = face[node(ilo, jlo, klo)];
    double hi = lo;
    for (int k = klo; k <= k1; ++k)
        for (int j = jlo; j <= j1; ++j)
            for (int i = ilo; i <= i1; ++i) {
                const double v = face[node(i, j, k)];
                if (v < lo) lo = v;
                if (v > hi) hi = v;
            }
    put(fortran::FreeLine().item(label).str());
    put(fortran::FreeLine().item(lo).item(hi).str());
}

// Node numbers are printed from 0, as offsets from the first node.
std::string position(const char* label, const Peak& p) {
    using namespace fortran;
    return std::string(label) + ES(p.value, 13, 5) + "      at position (I,K,J)=" + "(" + I(p.i - 1, 3) +
           "," + I(p.j - 1, 3) + "," + I(p.k - 1, 3) + ")";
}

Peak peak_ion_density() {
    Peak p{(ion_density[ion_slot(1, 1, 1, 1)] + ion_density[ion_slot(2, 1, 1, 1)]) * INV_ELECTRON_CHARGE, 1, 1, 1};
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const double n = (ion_density[ion_slot(1, i, j, k)] + ion_density[ion_slot(2, i, j, k)]) *
                                 INV_ELECTRON_CHARGE;
                if (n > p.value) p = {n, i, j, k};
            }
    return p;
}

Peak peak_electron_density() {
    double lowest = electron_density[node(1, 1, 1)];
    Peak p{0.0, 1, 1, 1};
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const double rho = electron_density[node(i, j, k)];
                if (rho < lowest) {
                    lowest = rho;
                    p.i = i;
                    p.j = j;
                    p.k = k;
                }
            }
    p.value = -lowest * INV_ELECTRON_CHARGE;
    return p;
}

}  // namespace

void print_diagnostics(bool quiet) {
    using namespace fortran;
    if (!(driver::diag_flag || driver::nstep == 1)) return;
    if (quiet) {
        driver::current_cpu = driver::processor_time();
        return;
    }

    const double* v = electrodes::electrode_voltage;

    put(FreeLine().item(std::string(67, '=')).str());
    put(" Number of mesh points: " + I(ihi - ilo + 1, 5) + X(18) + "Gap Hight:" + ES(xhigh - xlow, 10, 3) + " cm");
    put(" Step number: " + I(driver::nstep, 9) + "    Time: " + F(driver::t * 1e9, 11, 3) + "ns" +
        "   Time Step: " + ES(driver::dt * 1e9, 9, 2) + "ns");
    put(" Vs1=  " + F(v[1], 9, 2) + X(10) + "Vs2= " + F(v[2], 9, 2) + X(10) + "Vadd=  " + F(v[3], 9, 2));
    put(FreeLine().item("DIAGNOSTICS:").str());

    // Ions per cm of depth in e, summed over every z plane (no dz).
    double total = 0.0;
    for (int m = 0; m < 2 * NODE_COUNT; ++m) total += ion_density[m];
    put(X(40) + "Qvolume " + X(1) + ES(total * dx * dy * INV_ELECTRON_CHARGE, 23, 16));

    put(position("ION-DENS max=   ", peak_ion_density()));
    put(position("ELE-DENS max=   ", peak_electron_density()));
    put(FreeLine().item("NUMBER OF IONS =").item(PARTICLE_STORAGE::ions.count).str());
    put(FreeLine().item("NUMBER OF ELES =").item(PARTICLE_STORAGE::electrons.count).str());
    // Merged records stand for many particles: the real numbers as well.
    if (particle_merging::enabled())
        put(FreeLine().item("REAL IONS, ELES =").item(particle_merging::real_count(PARTICLE_STORAGE::ions))
                .item(particle_merging::real_count(PARTICLE_STORAGE::electrons)).str());

    // Each component lives on the faces normal to its axis, one more face
    // than gas nodes along that axis.
    print_range("Ex field: ", ex, ihi + 1, jhi, khi);
    print_range("Ey field: ", ey, ihi, jhi + 1, khi);
    print_range("Ez field: ", ez, ihi, jhi, khi + 1);

    put("TIME STEP=    " + X(1) + ES(driver::dt, 23, 16));
    put("");
    driver::current_cpu = driver::processor_time();
    put(X(20) + "Time elapsed=" + F(driver::current_cpu - driver::start_cpu, 10, 2) + " sec");
    put(FreeLine().item("t11,t22,t33").str());
    put(FreeLine().item(driver::t11).item(driver::t22).item(driver::t33).str());
    put("");
}

}  // namespace diagnostics
