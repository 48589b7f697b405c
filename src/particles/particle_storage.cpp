#include "particles/particle_storage.hpp"

#include "common/fatal_error.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace PARTICLE_STORAGE {

namespace {

// Fixed storage, sized when the program is built.
double ion_w[ION_CAPACITY], ion_t[ION_CAPACITY], ion_x[ION_CAPACITY], ion_y[ION_CAPACITY],
    ion_z[ION_CAPACITY], ion_vx[ION_CAPACITY], ion_vy[ION_CAPACITY], ion_vz[ION_CAPACITY];
int ion_species[ION_CAPACITY], ion_alive[ION_CAPACITY];

double ele_w[ELECTRON_CAPACITY], ele_t[ELECTRON_CAPACITY], ele_x[ELECTRON_CAPACITY],
    ele_y[ELECTRON_CAPACITY], ele_z[ELECTRON_CAPACITY], ele_vx[ELECTRON_CAPACITY],
    ele_vy[ELECTRON_CAPACITY], ele_vz[ELECTRON_CAPACITY];
int ele_species[ELECTRON_CAPACITY], ele_alive[ELECTRON_CAPACITY];

// Slots beyond the built-in capacity, on the heap.
struct GrownFields {
    std::vector<double> w, t, x, y, z, vx, vy, vz;
    std::vector<int> species, alive;
};
GrownFields grown_ions, grown_electrons;

// Identities and draw counters, on the heap, only for a parallel run.
struct Identities {
    std::vector<std::uint64_t> id, draws;
};
Identities ion_identities, electron_identities;

Identities& identities_of(const Store& s) { return &s == &ions ? ion_identities : electron_identities; }

// At least `slots` entries, the present ones kept.
void size_identities(Store& s, int slots) {
    Identities& m = identities_of(s);
    const std::size_t n = static_cast<std::size_t>(std::max(slots, s.capacity));
    if (m.id.size() < n) {
        m.id.resize(n, 0);
        m.draws.resize(n, 0);
    }
    s.id = m.id.data();
    s.draws = m.draws.data();
}

void copy_slot(Store& s, int from, int to) {
    s.w[to] = s.w[from];
    s.t[to] = s.t[from];
    s.x[to] = s.x[from];
    s.y[to] = s.y[from];
    s.z[to] = s.z[from];
    s.vx[to] = s.vx[from];
    s.vy[to] = s.vy[from];
    s.vz[to] = s.vz[from];
    s.species[to] = s.species[from];
    if (s.id != nullptr) {
        s.id[to] = s.id[from];
        s.draws[to] = s.draws[from];
    }
}

}  // namespace

Store ions{ION_CAPACITY, 0, 1, ion_w, ion_t, ion_x, ion_y, ion_z, ion_vx, ion_vy, ion_vz,
           ion_species, ion_alive};
Store electrons{ELECTRON_CAPACITY, 0, 1, ele_w, ele_t, ele_x, ele_y, ele_z, ele_vx, ele_vy, ele_vz,
                ele_species, ele_alive};

void add_particle(Store& s, double w, double t, double x, double y, double z,
                  double vx, double vy, double vz, int species) {
    int n = s.count + 1;
    if (n >= s.capacity && s.make_room != nullptr) {
        s.make_room(s);
        n = s.count + 1;
    }
    if (n >= s.capacity)
        pdp::fatal({"ERROR: There is not enough space in PARTICLE_STORAGE. Terminating",
                    "       a discharge outgrows the stores: --max-ions N and --max-electrons N merge records",
                    "       so that the stores hold about N each (with --plasma-field for dense discharges)"});
    s.w[n] = w;
    s.t[n] = t;
    s.x[n] = x;
    s.y[n] = y;
    s.z[n] = z;
    s.vx[n] = vx;
    s.vy[n] = vy;
    s.vz[n] = vz;
    s.species[n] = species;
    s.alive[n] = 1;
    s.count = n;
    if (s.id != nullptr) s.id[n] = s.draws[n] = 0;
}

double charge_carried(const Store& s) {
    double total = 0.0;
    for (int slot = 1; slot <= s.count; ++slot) total += std::fabs(s.w[slot]);
    return total;
}

void keep_identities(Store& s) {
    if (&s != &ions && &s != &electrons) pdp::fatal("ERROR: only the ion and electron stores keep identities");
    size_identities(s, s.capacity);
    std::fill(s.id, s.id + s.capacity, 0);
    std::fill(s.draws, s.draws + s.capacity, 0);
}

void add_record(Store& s, const Particle& p, std::uint64_t id, std::uint64_t draws) {
    add_particle(s, p.w, p.t, p.x, p.y, p.z, p.vx, p.vy, p.vz, p.species);
    if (s.id == nullptr) return;
    s.id[s.count] = id;
    s.draws[s.count] = draws;
}

void get_slot(const Store& s, int slot, Particle& p) {
    p = Particle{s.w[slot], s.t[slot], s.x[slot], s.y[slot], s.z[slot],
                 s.vx[slot], s.vy[slot], s.vz[slot], s.species[slot]};
}

void set_slot(Store& s, int slot, const Particle& p) {
    s.w[slot] = p.w;
    s.t[slot] = p.t;
    s.x[slot] = p.x;
    s.y[slot] = p.y;
    s.z[slot] = p.z;
    s.vx[slot] = p.vx;
    s.vy[slot] = p.vy;
    s.vz[slot] = p.vz;
    s.species[slot] = p.species;
}

void delete_slot(Store& s, int slot) {
    s.alive[slot] = 0;
    s.w[slot] = 0.0;
}

void rewind(Store& s) { s.cursor = 1; }

void advance(Store& s) { ++s.cursor; }

bool get_current(const Store& s, Particle& p) {
    if (s.cursor > s.count) return false;
    get_slot(s, s.cursor, p);
    return true;
}

void set_current(Store& s, const Particle& p) { set_slot(s, s.cursor, p); }

void delete_current(Store& s) {
    if (s.count <= 0) return;
    delete_slot(s, s.cursor);
}

// Fills holes from the top; the order of records is not kept.
void compact(Store& s) {
    int top = s.count;
    int hole = s.count;
    while (hole > 0) {
        if (s.alive[top] == 0) {
            --top;
            --hole;
        } else if (s.alive[hole] == 1) {
            --hole;
        } else {
            copy_slot(s, top, hole);
            s.alive[hole] = 1;
            s.alive[top] = 0;
            --top;
            --hole;
        }
    }
    s.count = top;
}

void compact_in_order(Store& s) {
    const int old_count = s.count;
    // A cursor past the end keeps its distance from the end.
    int cursor = s.cursor > old_count ? -1 : s.cursor;
    int to = 0;
    for (int from = 1; from <= old_count; ++from) {
        // The cursor's record, or the next live one, lands in slot to + 1.
        if (from == s.cursor) cursor = to + 1;
        if (s.alive[from] == 0) continue;
        ++to;
        if (to == from) continue;
        copy_slot(s, from, to);
        s.alive[to] = 1;
        s.alive[from] = 0;
        s.w[from] = 0.0;
    }
    s.count = to;
    s.cursor = cursor > 0 ? cursor : to + (s.cursor - old_count);
}

int live_count(const Store& s) {
    int n = 0;
    for (int slot = 1; slot <= s.count; ++slot) n += s.alive[slot];
    return n;
}

void set_capacity(Store& s, int capacity) {
    if (capacity <= s.count) pdp::fatal("ERROR: a particle store cannot shrink below the records it holds");
    if (&s != &ions && &s != &electrons) pdp::fatal("ERROR: only the ion and electron stores can change size");
    const bool is_ion = &s == &ions;
    GrownFields& g = is_ion ? grown_ions : grown_electrons;
    const int room = g.w.empty() ? (is_ion ? ION_CAPACITY : ELECTRON_CAPACITY) : static_cast<int>(g.w.size());
    if (s.id != nullptr) size_identities(s, capacity);
    if (capacity <= room) {
        s.capacity = capacity;
        return;
    }
    const std::size_t n = static_cast<std::size_t>(capacity);
    const std::size_t used = static_cast<std::size_t>(s.count) + 1;  // slot 0 too
    // Copies the live part into a fresh array and points the store at it.
    auto move_field = [&](std::vector<double>& v, double*& field) {
        std::vector<double> bigger(n, 0.0);
        std::copy(field, field + used, bigger.begin());
        v.swap(bigger);
        field = v.data();
    };
    auto move_int_field = [&](std::vector<int>& v, int*& field) {
        std::vector<int> bigger(n, 0);
        std::copy(field, field + used, bigger.begin());
        v.swap(bigger);
        field = v.data();
    };
    move_field(g.w, s.w);
    move_field(g.t, s.t);
    move_field(g.x, s.x);
    move_field(g.y, s.y);
    move_field(g.z, s.z);
    move_field(g.vx, s.vx);
    move_field(g.vy, s.vy);
    move_field(g.vz, s.vz);
    move_int_field(g.species, s.species);
    move_int_field(g.alive, s.alive);
    s.capacity = capacity;
}

void reset() {
    ions = Store{ION_CAPACITY, 0, 1, ion_w, ion_t, ion_x, ion_y, ion_z, ion_vx, ion_vy, ion_vz,
                 ion_species, ion_alive};
    electrons = Store{ELECTRON_CAPACITY, 0, 1, ele_w, ele_t, ele_x, ele_y, ele_z, ele_vx, ele_vy, ele_vz,
                      ele_species, ele_alive};
    grown_ions = GrownFields{};
    grown_electrons = GrownFields{};
    ion_identities = Identities{};
    electron_identities = Identities{};
    for (Store* s : {&ions, &electrons}) {
        for (int n = 0; n < s->capacity; ++n) {
            s->w[n] = s->t[n] = s->x[n] = s->y[n] = s->z[n] = 0.0;
            s->vx[n] = s->vy[n] = s->vz[n] = 0.0;
            s->species[n] = 0;
            s->alive[n] = 0;
        }
        s->count = 0;
        s->cursor = 1;
    }
}

}  // namespace PARTICLE_STORAGE
