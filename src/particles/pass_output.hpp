#pragma once
// What moving one particle produces besides its own new state: the random
// numbers it takes, the particles it gives birth to, the charge it leaves on
// the walls and the work it counts. The exact mode draws from the run's
// generator and writes births and charge straight into the stores and the
// wall arrays, as it goes. The parallel mode draws from the particle's own
// stream and collects the rest per chunk of the store; the chunks are then
// merged in their order, so that stores, wall charge and counters do not
// depend on which thread moved which chunk.
#include "particles/particle_storage.hpp"
#include "particles/random_source.hpp"

#include <cstdint>
#include <vector>

namespace pass_output {

struct Birth {
    PARTICLE_STORAGE::Particle p;
    std::uint64_t id;
};

// What the moves tell the per-step report about their physics: the charge
// (C, summed |w|) of the electrons that underwent each of the sixteen
// collision processes, in electron_collisions' order, and energies in J.
constexpr int PROCESS_COUNT = 16;
struct Tally {
    double collided[PROCESS_COUNT] = {};
    double recoil_energy = 0.0;         // lost by electrons to the atoms in elastic collisions
    double electron_work = 0.0;         // done by the field on electrons, q E·dx over their flights
                                        // (their gain over the moves less the collisions' changes)
    double ion_work = 0.0;              // done by the field on ions
    double ion_exchange_energy = 0.0;   // kinetic energy ions hand to the gas in charge exchange
    double electron_wall_energy = 0.0;  // kinetic energy carried into the walls
    double ion_wall_energy = 0.0;
};
// Adds part into sum, field by field.
void add(Tally& sum, const Tally& part);

// J: |w|/e particles of mass e/qm at speed^2 speed2 ((cm/s)^2); qm in cm^2/(V·s^2).
// A product, so that a constant qm folds into one factor.
inline double kinetic_energy(double w, double speed2, double qm) { return (w < 0 ? -w : w) * speed2 * (0.5 / qm); }

struct Deposit {
    double* cell;   // wall-charge cell
    double charge;  // C/cm^3 to add
};

// A Xe excitation for the VUV kinetics (--vuv): where, how many real atoms, which level (1..6).
struct Excitation {
    double x, y, z;  // cm
    double atoms;
    int level;
};

// One chunk's results, in the order its particles produced them. A cache
// line of its own, so that threads filling neighbouring chunks do not share one.
struct alignas(64) Chunk {
    std::vector<Birth> electrons;
    std::vector<Birth> ions;
    std::vector<Deposit> deposits;
    std::vector<Excitation> excitations;
    long long flights = 0;
    long long substeps = 0;
    Tally tally;
};

// Where one particle's move draws from and writes to.
struct Context {
    random_source::Source source;  // the run's generator or the particle's stream
    Chunk* chunk = nullptr;        // null: straight into the stores and walls
    long long flights = 0;         // counted here in the exact mode
    long long substeps = 0;
};

// The exact mode's context: the run's generator, no buffers.
Context exact();

// The tally of the moves since the report last took it: the exact mode's
// moves add to it as they go, the parallel mode's chunks when merged.
extern Tally pass_tally;
inline Tally& tally(Context& c) { return c.chunk == nullptr ? pass_tally : c.chunk->tally; }
// Returns the tally and starts it afresh.
Tally take_tally();
// Empties the tally, as at program start.
void reset();

inline double draw_uniform(Context& c) { return random_source::draw_uniform(c.source); }

// A particle born from the one being moved; `which` tells apart the children
// of one event (particle_streams::CHILD_ELECTRON, CHILD_ION). In the parallel
// mode its identity comes from the parent's identity and draws so far.
void add_electron(Context& c, const PARTICLE_STORAGE::Particle& p, unsigned which);
void add_ion(Context& c, const PARTICLE_STORAGE::Particle& p, unsigned which);

// Adds charge (C/cm^3) to one wall-charge cell.
inline void deposit(Context& c, double* cell, double charge) {
    if (c.chunk == nullptr) *cell += charge;
    else c.chunk->deposits.push_back({cell, charge});
}

// A Xe excitation by electron p: into the VUV kinetics at once, or into the
// chunk's list, which the merge hands on in chunk order.
void excite_xe(Context& c, const PARTICLE_STORAGE::Particle& p, int level);

// Empties a chunk for its next pass; its buffers keep their room.
void clear(Chunk& chunk);

// Applies chunks [0, count) in order: their deposits to the walls, their
// births to the stores (new records draw from 0), their work to the counters,
// their tallies to pass_tally.
void merge(std::vector<Chunk>& chunks, int count, long long& flights, long long& substeps);

}  // namespace pass_output
