// The voltage-file reader on arbitrary "Vdata.txt" contents. It either stops
// with a FatalError or accepts the file; an accepted file must give finite
// voltages within what the table and the two waves may add up to, at every
// time it covers.
#include "../fuzz_support.hpp"

#include "common/fatal_error.hpp"
#include "input/electrode_voltages.hpp"
#include "input/voltage_file.hpp"
#include "mesh/mesh_arrays.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// Times at which the voltages are looked at: the ends of the table and of
// both windows, just inside them, and an even spread over the table; within
// +-1 s, far beyond any run, where the interpolation cannot overflow.
std::vector<double> probe_times() {
    using namespace voltage_file;
    const double first = std::max(voltage_time.front(), -1.0);
    const double last = std::min(voltage_time.back(), 1.0);
    std::vector<double> times;
    if (!(first <= last)) return times;
    for (double t : {first, last, sin_t_start, sin_t_end, meander_t_start, meander_t_end})
        for (double u : {t, std::nextafter(t, -INFINITY), std::nextafter(t, INFINITY)})
            if (first <= u && u <= last) times.push_back(u);
    for (int n = 0; n <= 64; ++n) times.push_back(first + (last - first) * (n / 64.0));
    return times;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::enter_scratch_folder("voltage_file");
    mesh::electrode_map[mesh::node(1, 20, 1)] = 3;  // three electrodes, as in the built-in cell
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz_support::write_file("Vdata.txt", data, size);
    voltage_file::reset();
    electrodes::reset();
    try {
        voltage_file::read_voltage_file();
    } catch (const pdp::FatalError&) {
        return 0;
    }
    // Table, sine and meander each stay within the limit.
    const double bound = 3.0 * voltage_file::VOLTAGE_LIMIT * (1.0 + 1e-12);
    for (double t : probe_times()) {
        electrodes::update_electrode_voltages(t, 1e-10);
        for (int e = 1; e <= voltage_file::n_electrodes; ++e) {
            const double v = electrodes::electrode_voltage[e];
            if (!(std::fabs(v) <= bound))
                fuzz_support::finding("electrode " + std::to_string(e) + " at t = " + std::to_string(t) +
                                      " s has voltage " + std::to_string(v));
        }
    }
    return 0;
}
