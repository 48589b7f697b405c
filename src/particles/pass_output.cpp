#include "particles/pass_output.hpp"

#include "particles/species.hpp"
#include "radiation/xe_kinetics.hpp"

#include <cmath>

namespace pass_output {

using PARTICLE_STORAGE::Particle;

Tally pass_tally;

void add(Tally& sum, const Tally& part) {
    for (int k = 0; k < PROCESS_COUNT; ++k) sum.collided[k] += part.collided[k];
    sum.recoil_energy += part.recoil_energy;
    sum.electron_work += part.electron_work;
    sum.ion_work += part.ion_work;
    sum.ion_exchange_energy += part.ion_exchange_energy;
    sum.electron_wall_energy += part.electron_wall_energy;
    sum.ion_wall_energy += part.ion_wall_energy;
}

Tally take_tally() {
    const Tally taken = pass_tally;
    pass_tally = Tally{};
    return taken;
}

void reset() { pass_tally = Tally{}; }

Context exact() { return Context{random_source::run_generator(), nullptr, 0, 0}; }

namespace {

// The parent's identity and the draws it had taken at the birth: every event
// takes at least one draw, so no two births of one parent share them.
std::uint64_t child_of(const Context& c, unsigned which) {
    const particle_streams::Stream& parent = *c.source.stream;
    return particle_streams::child_identity(parent.id, parent.counter, which);
}

// Straight into the store, or into the chunk's list with the child's identity.
void add_birth(Context& c, PARTICLE_STORAGE::Store& store, std::vector<Birth> Chunk::*births, const Particle& p,
               unsigned which) {
    if (c.chunk == nullptr) {
        PARTICLE_STORAGE::add_particle(store, p.w, p.t, p.x, p.y, p.z, p.vx, p.vy, p.vz, p.species);
        return;
    }
    (c.chunk->*births).push_back({p, child_of(c, which)});
}

}  // namespace

void add_electron(Context& c, const Particle& p, unsigned which) {
    add_birth(c, PARTICLE_STORAGE::electrons, &Chunk::electrons, p, which);
}

void add_ion(Context& c, const Particle& p, unsigned which) {
    add_birth(c, PARTICLE_STORAGE::ions, &Chunk::ions, p, which);
}

void excite_xe(Context& c, const Particle& p, int level) {
    const double atoms = std::fabs(p.w) / species::ELECTRON_CHARGE;
    if (c.chunk == nullptr) xe_kinetics::add_excitation(p.x, p.y, p.z, atoms, level);
    else c.chunk->excitations.push_back({p.x, p.y, p.z, atoms, level});
}

void clear(Chunk& chunk) {
    chunk.electrons.clear();
    chunk.ions.clear();
    chunk.deposits.clear();
    chunk.excitations.clear();
    chunk.flights = 0;
    chunk.substeps = 0;
    chunk.tally = Tally{};
}

void merge(std::vector<Chunk>& chunks, int count, long long& flights, long long& substeps) {
    for (int n = 0; n < count; ++n) {
        const Chunk& chunk = chunks[static_cast<std::size_t>(n)];
        for (const Deposit& d : chunk.deposits) *d.cell += d.charge;
        for (const Birth& b : chunk.electrons) PARTICLE_STORAGE::add_record(PARTICLE_STORAGE::electrons, b.p, b.id, 0);
        for (const Birth& b : chunk.ions) PARTICLE_STORAGE::add_record(PARTICLE_STORAGE::ions, b.p, b.id, 0);
        for (const Excitation& x : chunk.excitations) xe_kinetics::add_excitation(x.x, x.y, x.z, x.atoms, x.level);
        flights += chunk.flights;
        substeps += chunk.substeps;
        add(pass_tally, chunk.tally);
    }
}

}  // namespace pass_output
