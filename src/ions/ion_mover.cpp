#include "ions/ion_mover.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/portable_math.hpp"
#include "ions/surface_processes.hpp"
#include "mesh/field_interpolation.hpp"
#include "mesh/mesh_arrays.hpp"
#include "common/chunked_work.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/pass_output.hpp"
#include "particles/species.hpp"

#include <cmath>
#include <string>
#include <vector>

namespace ion_mover {

using namespace mesh;
using PARTICLE_STORAGE::Particle;
using PARTICLE_STORAGE::speed2;
using PARTICLE_STORAGE::Store;

namespace {

void species_constants(int species, double& qm, double& tau) {
    switch (species) {
        case 1: qm = species::QM_NE_ION; tau = species::fill().tau_ne_ion; return;
        case 2: qm = species::QM_XE_ION; tau = species::fill().tau_xe_ion; return;
    }
    pdp::fatal({"ERROR: ion of unknown species " + std::to_string(species) + " in the ion store",
                "       (1 is Ne+, 2 is Xe+)"});
}

// Once per ion move: a position or velocity that is not finite would carry
// NaN into the field lookup and the wall tests.
void check_ion(const Particle& ion) {
    if (std::isfinite(ion.x) && std::isfinite(ion.y) && std::isfinite(ion.z) && std::isfinite(ion.vx) &&
        std::isfinite(ion.vy) && std::isfinite(ion.vz) && std::isfinite(ion.t))
        return;
    using fortran::FreeLine;
    pdp::fatal({"ERROR: an ion cannot be moved: a coordinate or velocity is not finite",
                FreeLine().item("       x, y, z (cm) =").item(ion.x).item(ion.y).item(ion.z).str(),
                FreeLine().item("       vx, vy, vz (cm/s) =").item(ion.vx).item(ion.vy).item(ion.vz).str(),
                FreeLine().item("       t (s) =").item(ion.t).item(", species").item(ion.species).str()});
}

// One push along an axis: dv = (q/M)·E·dt, the position with the mean velocity.
void push(double& position, double& velocity, double qm, double field, double flight) {
    const double dv = qm * field * flight;
    position += flight * (velocity + dv / 2);
    velocity += dv;
}

// Walls are tested only at the end of a flight; the rib comes first, so an
// ion past both zhigh and xlow lands on the rib.
bool hits_wall(const Particle& ion, surface::Wall& wall) {
    if (ion.z >= zhigh) wall = surface::Wall::rib;
    else if (ion.x <= xlow) wall = surface::Wall::front;
    else if (ion.x >= xhigh) wall = surface::Wall::rear;
    else return false;
    return true;
}

// The ion's charge and kinetic energy go to its wall cell, which may then
// emit an electron.
void absorb(surface::Wall wall, const Particle& ion, double flight, double qm, pass_output::Context& context) {
    using namespace surface;
    pass_output::tally(context).ion_wall_energy += pass_output::kinetic_energy(ion.w, speed2(ion), qm);
    const WallCell cell = wall_cell(wall, ion.x, ion.y, ion.z);
    deposit(wall, cell, ion.w, context);
    switch (wall) {
        case Wall::front: emit_secondary_front(ion, flight, cell, context); break;
        case Wall::rear: emit_secondary_rear(ion, flight, cell, context); break;
        case Wall::rib: emit_secondary_rib(ion, flight, cell, context); break;
    }
}

// Free flights of an ion until it reaches t_end or a wall. A flight ends at
// t_end or in charge exchange: the fast ion hands its charge to a slow atom,
// so the ion that flies on starts at rest (its speed^2 is added to
// exchanged). Returns false when a wall absorbed the ion.
bool move_through_flights(Particle& ion, double t_end, double qm, double tau_mean, double& exchanged,
                          pass_output::Context& context) {
    for (;;) {
        const double tau = -portable_math::log(pass_output::draw_uniform(context)) * tau_mean;
        const bool reaches_end = t_end < ion.t + tau;  // ending exactly at t_end is a collision
        const double flight = reaches_end ? t_end - ion.t : tau;

        double Ex, Ey, Ez;
        interpolate_ion_field(ion.x, ion.y, ion.z, Ex, Ey, Ez);
        push(ion.x, ion.vx, qm, Ex, flight);
        push(ion.y, ion.vy, qm, Ey, flight);
        push(ion.z, ion.vz, qm, Ez, flight);
        ion.t += flight;

        mirror_ion_y(ion);
        mirror_ion_zlow(ion);

        surface::Wall wall;
        if (hits_wall(ion, wall)) {
            absorb(wall, ion, flight, qm, context);
            return false;
        }
        if (!reaches_end) {
            exchanged += speed2(ion);
            ion.vx = ion.vy = ion.vz = 0.0;
            if (ion.t < t_end) continue;
        }
        return true;
    }
}

// The same, with the field's work on the ion for the report: the push turns
// q E·dx into kinetic energy exactly, so the work is the kinetic energy gained
// over the move plus what charge exchange handed to the gas (speed^2 summed in
// exchanged).
bool move_ion(Particle& ion, double t_end, pass_output::Context& context) {
    check_ion(ion);
    double qm = 0.0, tau_mean = 0.0;
    species_constants(ion.species, qm, tau_mean);
    const double speed2_at_start = speed2(ion);
    double exchanged = 0.0;  // (cm/s)^2
    const bool stays = move_through_flights(ion, t_end, qm, tau_mean, exchanged, context);
    pass_output::Tally& tally = pass_output::tally(context);
    if (exchanged > 0.0) tally.ion_exchange_energy += pass_output::kinetic_energy(ion.w, exchanged, qm);
    tally.ion_work += pass_output::kinetic_energy(ion.w, speed2(ion) - speed2_at_start + exchanged, qm);
    return stays;
}

// The exact mode: one walk in store order, every number from the run's
// generator.
void advance_ions_in_order(Store& store, double t_end) {
    pass_output::Context context = pass_output::exact();
    // After the compaction no dead slot lies at or beyond the cursor.
    Particle ion;
    while (PARTICLE_STORAGE::get_current(store, ion)) {
        if (t_end <= ion.t) {
            PARTICLE_STORAGE::advance(store);
            continue;
        }
        if (move_ion(ion, t_end, context)) PARTICLE_STORAGE::set_current(store, ion);
        else PARTICLE_STORAGE::delete_current(store);
        PARTICLE_STORAGE::advance(store);
    }
}

// The parallel mode: chunks of the store on the threads, each ion drawing
// from its own stream; the chunks' secondary electrons and wall charge are
// merged in chunk order afterwards.
constexpr int ION_CHUNK = 512;  // records

struct ChunkedPass {
    Store* store;
    double t_end;
    int records;
};

std::vector<pass_output::Chunk> chunk_outputs;
chunked_work::Pace ion_pace;  // threads or the caller alone, whichever is faster here

void move_ion_chunk(void* context, int chunk) {
    const ChunkedPass& pass = *static_cast<const ChunkedPass*>(context);
    Store& store = *pass.store;
    pass_output::Chunk& out = chunk_outputs[static_cast<std::size_t>(chunk)];
    pass_output::clear(out);
    const chunked_work::Range range = chunked_work::chunk_range(chunk, pass.records, ION_CHUNK);
    for (int slot = range.begin + 1; slot <= range.end; ++slot) {
        Particle ion;
        PARTICLE_STORAGE::get_slot(store, slot, ion);
        if (pass.t_end <= ion.t) continue;
        particle_streams::Stream stream =
            particle_streams::open_stream(parallel_mode::settings.key, store.id[slot], store.draws[slot]);
        pass_output::Context ion_context{random_source::particle_stream(stream), &out, 0, 0};
        if (move_ion(ion, pass.t_end, ion_context)) PARTICLE_STORAGE::set_slot(store, slot, ion);
        else PARTICLE_STORAGE::delete_slot(store, slot);
        store.draws[slot] = stream.counter;
    }
}

void advance_ions_in_chunks(Store& store, double t_end) {
    ChunkedPass pass{&store, t_end, store.count};
    const int chunks = chunked_work::chunk_count(pass.records, ION_CHUNK);
    if (chunk_outputs.size() < static_cast<std::size_t>(chunks)) chunk_outputs.resize(static_cast<std::size_t>(chunks));
    chunked_work::run_chunks_paced(chunks, parallel_mode::settings.threads, move_ion_chunk, &pass, ion_pace);
    long long flights = 0, substeps = 0;  // not counted for ions
    pass_output::merge(chunk_outputs, chunks, flights, substeps);
}

}  // namespace

void advance_ions(double t_end) {
    Store& store = PARTICLE_STORAGE::ions;
    PARTICLE_STORAGE::compact(store);
    PARTICLE_STORAGE::rewind(store);
    if (parallel_mode::on()) advance_ions_in_chunks(store, t_end);
    else advance_ions_in_order(store, t_end);
    PARTICLE_STORAGE::compact(store);
    PARTICLE_STORAGE::rewind(store);
}

// The same staggered-mesh interpolation as for the electrons.
void interpolate_ion_field(double x, double y, double z, double& Ex, double& Ey, double& Ez) {
    mesh::interpolate_field(x, y, z, Ex, Ey, Ez);
}

void mirror_ion_y(Particle& ion) {
    if (ion.y < ylow) {
        ion.y = 2 * ylow - ion.y;
    } else if (ion.y > yhigh) {
        ion.y = 2 * yhigh - ion.y;
    } else {
        return;  // on the plane itself is inside
    }
    ion.vy = -ion.vy;
    if (ion.y < ylow || ion.y > yhigh)
        pdp::fatal({"ion outside of region",
                    ion.species == 2 ? "Xe ion outside of region" : "Ne ion outside of region"});
}

void mirror_ion_zlow(Particle& ion) {
    if (ion.z > zlow) return;
    ion.z = 2 * zlow - ion.z;
    ion.vz = -ion.vz;
    if (ion.z < zlow || ion.z > zhigh) pdp::fatal("electron outside of z region");
}

}  // namespace ion_mover
