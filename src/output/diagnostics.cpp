#include "output/diagnostics.hpp"

#include "common/chunked_work.hpp"
#include "common/fortran_format.hpp"
#include "driver/main_program.hpp"
#include "electrons/hybrid_electrons.hpp"
#include "input/electrode_voltages.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_merging.hpp"
#include "particles/parallel_mode.hpp"
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
// bound or lie inside the gas region; started at the box's first face.
struct Range {
    bool started;
    double lo, hi;
};

// What the block reports from the mesh arrays, gathered plane by plane (k).
// Gathered over the planes in order, each result is that of one scan over
// the whole mesh. In the parallel mode each plane is scanned on its own, on
// any thread, and the planes' results are merged in plane order: the peaks
// and ranges are the same, and the sum of charge is the same for any number
// of threads.
struct Scan {
    double ion_total;  // C/cm^3 summed over the nodes
    Peak ion_peak;     // cm^-3
    Peak electron_low;  // its value: the lowest (most negative) charge density
    Range field[3];    // ex, ey, ez
};

const double* field_faces(int axis) { return axis == 0 ? ex : axis == 1 ? ey : ez; }

double ion_number_density(int i, int j, int k) {
    return (ion_density[ion_slot(1, i, j, k)] + ion_density[ion_slot(2, i, j, k)]) * INV_ELECTRON_CHARGE;
}

// A scan that starts at the first node of plane k.
Scan start_scan(int k) {
    return {0.0, {ion_number_density(1, 1, k), 1, 1, k}, {electron_density[node(1, 1, k)], 1, 1, k},
            {{false, 0.0, 0.0}, {false, 0.0, 0.0}, {false, 0.0, 0.0}}};
}

// Continues scan s over plane k, the first node found keeping a tie.
void scan_plane(int k, Scan& s) {
    for (int m = 2 * node(1, 1, k); m < 2 * node(1, 1, k + 1); ++m) s.ion_total += ion_density[m];
    for (int j = 1; j <= NY; ++j)
        for (int i = 1; i <= NX; ++i) {
            const double n = ion_number_density(i, j, k);
            if (n > s.ion_peak.value) s.ion_peak = {n, i, j, k};
            const double rho = electron_density[node(i, j, k)];
            if (rho < s.electron_low.value) s.electron_low = {rho, i, j, k};
        }
    // Each component lives on the faces normal to its axis, one more face
    // than gas nodes along that axis.
    for (int axis = 0; axis < 3; ++axis) {
        const int i1 = axis == 0 ? ihi + 1 : ihi, j1 = axis == 1 ? jhi + 1 : jhi, k1 = axis == 2 ? khi + 1 : khi;
        if (k < klo || k > k1) continue;
        const double* face = field_faces(axis);
        Range& r = s.field[axis];
        if (!r.started) r = {true, face[node(ilo, jlo, k)], face[node(ilo, jlo, k)]};
        for (int j = jlo; j <= j1; ++j)
            for (int i = ilo; i <= i1; ++i) {
                const double v = face[node(i, j, k)];
                if (v < r.lo) r.lo = v;
                if (v > r.hi) r.hi = v;
            }
    }
}

// Adds the scan of a later plane to s.
void merge_scan(Scan& s, const Scan& later) {
    s.ion_total += later.ion_total;
    if (later.ion_peak.value > s.ion_peak.value) s.ion_peak = later.ion_peak;
    if (later.electron_low.value < s.electron_low.value) s.electron_low = later.electron_low;
    for (int axis = 0; axis < 3; ++axis) {
        Range& r = s.field[axis];
        const Range& l = later.field[axis];
        if (!l.started) continue;
        if (!r.started) {
            r = l;
            continue;
        }
        if (l.lo < r.lo) r.lo = l.lo;
        if (l.hi > r.hi) r.hi = l.hi;
    }
}

Scan plane_scans[NZ + 1];
void scan_one_plane(void*, int chunk) {
    const int k = chunk + 1;
    plane_scans[k] = start_scan(k);
    scan_plane(k, plane_scans[k]);
}

Scan scan_mesh() {
    Scan s = start_scan(1);
    if (!parallel_mode::on()) {
        for (int k = 1; k <= NZ; ++k) scan_plane(k, s);
        return s;
    }
    chunked_work::run_chunks(NZ, parallel_mode::settings.threads, scan_one_plane, nullptr);
    s = plane_scans[1];
    for (int k = 2; k <= NZ; ++k) merge_scan(s, plane_scans[k]);
    return s;
}

void print_range(const char* label, const Range& r) {
    put(fortran::FreeLine().item(label).str());
    put(fortran::FreeLine().item(r.lo).item(r.hi).str());
}

// Node numbers are printed from 0, as offsets from the first node.
std::string position(const char* label, const Peak& p) {
    using namespace fortran;
    return std::string(label) + ES(p.value, 13, 5) + "      at position (I,K,J)=" + "(" + I(p.i - 1, 3) +
           "," + I(p.j - 1, 3) + "," + I(p.k - 1, 3) + ")";
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

    const Scan scan = scan_mesh();
    // Ions per cm of depth in e, summed over every z plane (no dz).
    put(X(40) + "Qvolume " + X(1) + ES(scan.ion_total * dx * dy * INV_ELECTRON_CHARGE, 23, 16));

    put(position("ION-DENS max=   ", scan.ion_peak));
    const Peak& low = scan.electron_low;
    put(position("ELE-DENS max=   ", {-low.value * INV_ELECTRON_CHARGE, low.i, low.j, low.k}));
    put(FreeLine().item("NUMBER OF IONS =").item(PARTICLE_STORAGE::ions.count).str());
    put(FreeLine().item("NUMBER OF ELES =").item(PARTICLE_STORAGE::electrons.count).str());
    // Merged records stand for many particles: the real numbers as well.
    if (particle_merging::enabled())
        put(FreeLine().item("REAL IONS, ELES =").item(particle_merging::real_count(PARTICLE_STORAGE::ions))
                .item(particle_merging::real_count(PARTICLE_STORAGE::electrons) + hybrid_electrons::fluid_electrons())
                .str());

    print_range("Ex field: ", scan.field[0]);
    print_range("Ey field: ", scan.field[1]);
    print_range("Ez field: ", scan.field[2]);

    put("TIME STEP=    " + X(1) + ES(driver::dt, 23, 16));
    put("");
    driver::current_cpu = driver::processor_time();
    put(X(20) + "Time elapsed=" + F(driver::current_cpu - driver::start_cpu, 10, 2) + " sec");
    put(FreeLine().item("t11,t22,t33").str());
    put(FreeLine().item(driver::t11).item(driver::t22).item(driver::t33).str());
    put("");
}

}  // namespace diagnostics
