#pragma once
// PARTICLE_STORAGE: the ion store and the electron store. Each is a
// fixed-capacity table of slots (numbered from 1) held as one array per field,
// with a cursor that the record operations address. New records are appended
// at the end; dead slots (w = 0) stay until a compaction squeezes them out.
// Only merging changes a capacity: at start-up, or when a full store cannot
// merge enough.
#include <cstdint>

namespace PARTICLE_STORAGE {

constexpr int ION_CAPACITY = 450000;       // slots; holds 449,999 records
constexpr int ELECTRON_CAPACITY = 100000;  // slots; holds 99,999 records

// One particle record, fields in their fixed order.
struct Particle {
    double w;        // signed charge carried, C; 0 marks a dead slot
    double t;        // the particle's own clock, s
    double x, y, z;  // cm
    double vx, vy, vz;  // cm/s
    int species;     // ions: 1 Ne+, 2 Xe+; electrons: origin code
};

// Squared speed of a particle, (cm/s)^2.
inline double speed2(const Particle& p) { return p.vx * p.vx + p.vy * p.vy + p.vz * p.vz; }

struct Store {
    int capacity;
    int count;   // highest slot in use, dead slots included
    int cursor;  // slot the record operations address
    // Per-slot fields, indexed 1..capacity-1 (index 0 unused).
    double *w, *t, *x, *y, *z, *vx, *vy, *vz;
    int *species, *alive;
    // Called by add_particle when no slot is left; it must free slots or
    // add some. Null: the run stops because the store is full.
    void (*make_room)(Store&) = nullptr;
    // Per-slot identity and draws taken from the particle's own random
    // stream; null unless keep_identities() gave the store these arrays
    // (the parallel mode only), which then follow every copy of a record.
    std::uint64_t* id = nullptr;
    std::uint64_t* draws = nullptr;
};

extern Store ions;
extern Store electrons;

void add_particle(Store& s, double w, double t, double x, double y, double z,
                  double vx, double vy, double vz, int species);
void rewind(Store& s);
void advance(Store& s);
bool get_current(const Store& s, Particle& p);
void set_current(Store& s, const Particle& p);
void delete_current(Store& s);
void compact(Store& s);
// Squeezes out dead slots keeping the order of the live records; the cursor
// stays on its record (or on the next live one), so a walk through the store
// carries on where it was.
void compact_in_order(Store& s);
// Live records (dead slots not counted).
int live_count(const Store& s);
// The charge the records carry, C: the sum of |w| in slot order.
double charge_carried(const Store& s);
// This many slots from now on (more than the records held), records kept;
// beyond the built-in room the fields move to larger arrays. Only the two
// stores above can change size.
void set_capacity(Store& s, int capacity);

// Gives the store its per-slot identities and draw counters, zero for the
// records it holds. Once, at start-up, before a parallel run adds records.
void keep_identities(Store& s);
// Appends a record with its identity and draws (add_particle otherwise).
void add_record(Store& s, const Particle& p, std::uint64_t id, std::uint64_t draws);

// Access by slot number, for passes that share a store among threads (the
// one cursor serves one walk); each slot must be in 1..count.
void get_slot(const Store& s, int slot, Particle& p);
void set_slot(Store& s, int slot, const Particle& p);
void delete_slot(Store& s, int slot);

// Empties both stores and gives them back their built-in capacities, no
// make_room and no identities, as at program start.
void reset();

}  // namespace PARTICLE_STORAGE
