// The checkpoint reader on arbitrary "restart" files. The first input byte
// chooses the form: bit 0 set puts the rest of the input after a valid set
// of arrays (records 1-11, all zero: some 1.2 million values no mutation
// would produce), so that the clock, the particle stores and the generator
// state are reached; bit 1 set ends the file with a correct integrity record.
// The reader either stops with a FatalError or accepts the file; what it
// accepts must be a state a run can go on from.
#include "../fuzz_support.hpp"

#include "common/checksum.hpp"
#include "common/fatal_error.hpp"
#include "driver/checkpoint.hpp"
#include "driver/main_program.hpp"
#include "input/cell_geometry.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include <cinttypes>
#include <cmath>
#include <string>

namespace {

std::string zero_arrays;

void add_zero_record(long count) {
    for (long m = 0; m < count; ++m) zero_arrays += (m + 1) % 1000 == 0 || m + 1 == count ? "0\n" : "0 ";
}

void check_store(const PARTICLE_STORAGE::Store& s, bool is_ion, double t) {
    for (int slot = 1; slot <= s.count; ++slot) {
        const double f[8] = {s.w[slot], s.t[slot], s.x[slot], s.y[slot], s.z[slot], s.vx[slot], s.vy[slot], s.vz[slot]};
        for (double v : f)
            if (!std::isfinite(v)) fuzz_support::finding("non-finite particle field accepted");
        if (s.w[slot] == 0.0) continue;
        if ((s.w[slot] > 0.0) != is_ion) fuzz_support::finding("particle charge of the wrong sign accepted");
        if (!(mesh::xlow <= s.x[slot] && s.x[slot] <= mesh::xhigh && mesh::ylow <= s.y[slot] &&
              s.y[slot] <= mesh::yhigh && mesh::zlow <= s.z[slot] && s.z[slot] <= mesh::zhigh))
            fuzz_support::finding("particle outside the gas box accepted");
        if (!(std::hypot(s.vx[slot], s.vy[slot], s.vz[slot]) < 2.99792458e10))
            fuzz_support::finding("particle faster than light accepted");
        if (s.t[slot] > t + driver::TIME_STEP) fuzz_support::finding("particle clock ahead of the run accepted");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_support::enter_scratch_folder("checkpoint");
    const std::uint8_t nothing = 0;
    fuzz_support::write_file("input_file.txt", &nothing, 0);
    geometry::build_geometry();  // the gas box particles must lie in
    add_zero_record(mesh::NODE_COUNT);
    zero_arrays += " \n";  // record 2
    add_zero_record(2L * mesh::NODE_COUNT);
    add_zero_record(mesh::NODE_COUNT);
    add_zero_record(mesh::PADDED_COUNT);
    add_zero_record(mesh::PADDED_COUNT);
    for (int a = 0; a < 5; ++a) add_zero_record(mesh::NODE_COUNT);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string text;
    if ((data[0] & 1) != 0) text = zero_arrays;
    text.append(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((data[0] & 2) != 0) {
        char record[64];
        std::snprintf(record, sizeof record, " CRC-32 of the bytes above: %08" PRIX32 "\n",
                      checksum::crc32(text.data(), text.size()));
        text += record;
    }
    fuzz_support::write_file(checkpoint::RESTART_FILE, reinterpret_cast<const std::uint8_t*>(text.data()),
                             text.size());

    // The reader empties each particle store before it fills it, and the
    // stores are looked at only after a read that succeeded, so what an
    // earlier input left there does not matter; a full reset of both stores
    // would take most of the time of every input.
    random_numbers::reset();
    double t = 0.0, dt = driver::TIME_STEP;
    int nstep = 1;
    try {
        checkpoint::checkpoint_restart(1, t, nstep, dt);
    } catch (const pdp::FatalError&) {
        return 0;
    }
    if (!std::isfinite(t) || t < 0.0 || !std::isfinite(dt)) fuzz_support::finding("bad clock accepted");
    if (nstep < 1 || nstep > driver::MAX_STEP) fuzz_support::finding("step outside the run accepted");
    check_store(PARTICLE_STORAGE::electrons, false, t);
    check_store(PARTICLE_STORAGE::ions, true, t);
    return 0;
}
