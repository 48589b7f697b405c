#include "particles/particle_storage.hpp"

#include "common/fatal_error.hpp"

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
}

}  // namespace

Store ions{ION_CAPACITY, 0, 1, ion_w, ion_t, ion_x, ion_y, ion_z, ion_vx, ion_vy, ion_vz,
           ion_species, ion_alive};
Store electrons{ELECTRON_CAPACITY, 0, 1, ele_w, ele_t, ele_x, ele_y, ele_z, ele_vx, ele_vy, ele_vz,
                ele_species, ele_alive};

void add_particle(Store& s, double w, double t, double x, double y, double z,
                  double vx, double vy, double vz, int species) {
    const int n = s.count + 1;
    if (n >= s.capacity) pdp::fatal("ERROR: There is not enough space in PARTICLE_STORAGE. Terminating");
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
}

void rewind(Store& s) { s.cursor = 1; }

void advance(Store& s) { ++s.cursor; }

bool get_current(const Store& s, Particle& p) {
    const int c = s.cursor;
    if (c > s.count) return false;
    p = Particle{s.w[c], s.t[c], s.x[c], s.y[c], s.z[c], s.vx[c], s.vy[c], s.vz[c], s.species[c]};
    return true;
}

void set_current(Store& s, const Particle& p) {
    const int c = s.cursor;
    s.w[c] = p.w;
    s.t[c] = p.t;
    s.x[c] = p.x;
    s.y[c] = p.y;
    s.z[c] = p.z;
    s.vx[c] = p.vx;
    s.vy[c] = p.vy;
    s.vz[c] = p.vz;
    s.species[c] = p.species;
}

void delete_current(Store& s) {
    if (s.count <= 0) return;
    s.alive[s.cursor] = 0;
    s.w[s.cursor] = 0.0;
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

void reset() {
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
