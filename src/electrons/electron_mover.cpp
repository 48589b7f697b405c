#include "electrons/electron_mover.hpp"

#include "common/chunked_work.hpp"
#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/portable_math.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/drift_diffusion.hpp"
#include "electrons/electron_collisions.hpp"
#include "particles/species.hpp"
#include "ions/surface_processes.hpp"
#include "mesh/field_interpolation.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/pass_output.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

namespace electron_mover {

double numax = NUMAX_START;
long long flight_count = 0;
long long substep_count = 0;

namespace {

using pass_output::Context;
using PARTICLE_STORAGE::Particle;
using PARTICLE_STORAGE::speed2;

int first_call_done = 0;

constexpr double MINUS_QM = -species::QM_ELECTRON;
constexpr double EV_PER_SPEED2 = collision_frequencies::SQRT_EV_PER_SPEED * collision_frequencies::SQRT_EV_PER_SPEED;
// What one pass reads over and over, fetched once: the gas-box planes and the
// sub-steps per cm of flight along each axis (SUBSTEPS_PER_CELL per cell).
struct PassConstants {
    double xlow, xhigh, ylow, yhigh, zlow, zhigh;
    double substeps_per_x, substeps_per_y, substeps_per_z;  // 1/cm
    bool energy_bands;  // the parallel mode's bound that follows the energy
    bool leapfrog;      // second-order sub-steps (set_leapfrog)
    bool drift_diffusion;  // thermal electrons by drift-diffusion steps
};

bool leapfrog_on = false;

// The parallel mode's null-collision bound follows the electron's energy.
// Band b holds the energies below its cap, and its bound is the envelope's
// largest value up to the cap: for the few-eV electrons that make up most of
// a discharge that is a quarter of numax, so a quarter of the collision
// candidates. A flight ends where the energy reaches its band's cap, without
// a candidate, and the next flight draws its free time under the bound of the
// band the electron is then in. The free time is exponential, without
// memory, so cutting a flight and drawing afresh is exact; within a band the
// bound covers every process, so each is still taken at its own rate.
// The exact mode keeps the one bound numax, and its draws.
struct Band {
    double numax;        // 1/s
    double cap_speed2;   // (cm/s)^2, where a flight in this band is cut
    double entry_speed2; // (cm/s)^2, a flight starts in the first band above this
};
// Caps at the envelope's nodes and between them where it climbs steeply, eV.
constexpr double BAND_CAP[] = {0.5, 1, 1.5, 2, 3, 4, 4.9, 6, 8, 14.8, 20, 26, 32, 39, 120};
constexpr int BAND_COUNT = sizeof BAND_CAP / sizeof BAND_CAP[0] + 1;  // the last has no cap
// A flight starts in a band whose cap is at least this many times the
// electron's energy, so that it is seldom cut at once.
constexpr double BAND_HEADROOM = 1.5;
Band bands[BAND_COUNT];

void set_bands() {
    using collision_frequencies::SPEED_PER_SQRT_EV;
    constexpr double SPEED2_PER_EV = SPEED_PER_SQRT_EV * SPEED_PER_SQRT_EV;
    for (int b = 0; b < BAND_COUNT - 1; ++b)
        bands[b] = {collision_frequencies::nu_total_max_below(BAND_CAP[b]), SPEED2_PER_EV * BAND_CAP[b],
                    SPEED2_PER_EV * BAND_CAP[b] / BAND_HEADROOM};
    constexpr double NO_CAP = std::numeric_limits<double>::infinity();
    bands[BAND_COUNT - 1] = {collision_frequencies::nu_total_max_below(NO_CAP), NO_CAP, NO_CAP};
}

const Band& band_for(double speed2) {
    int b = 0;
    while (!(speed2 < bands[b].entry_speed2) && b < BAND_COUNT - 1) ++b;
    return bands[b];
}

// No sane flight asks for more sub-steps than this: an electron at the speed
// of light takes about 3e5 over a whole time step.
constexpr double MAX_SUBSTEPS = 1e7;

[[noreturn, gnu::cold, gnu::noinline]] void stop_on_bad_electron(const Particle& e, bool finite, double substeps) {
    using fortran::FreeLine;
    pdp::fatal({"ERROR: an electron cannot be moved: " +
                    std::string(!finite ? "a coordinate or velocity is not finite"
                                                        : "its flight asks for " + fortran::free_real(substeps) + " sub-steps"),
                FreeLine().item("       x, y, z (cm) =").item(e.x).item(e.y).item(e.z).str(),
                FreeLine().item("       vx, vy, vz (cm/s) =").item(e.vx).item(e.vy).item(e.vz).str(),
                FreeLine().item("       t (s) =").item(e.t).str()});
}

// Once per flight: a position or velocity that is not finite would make the
// sub-step count meaningless and the electron's clock stand still.
void check_flight(const Particle& e, double substeps) {
    const bool finite = std::isfinite(e.x) && std::isfinite(e.y) && std::isfinite(e.z) &&
                        std::isfinite(e.vx) && std::isfinite(e.vy) && std::isfinite(e.vz);
    if (!finite || !(substeps < MAX_SUBSTEPS)) stop_on_bad_electron(e, finite, substeps);
}

// The wall takes the electron's charge and its kinetic energy.
void absorb(surface::Wall wall, const Particle& e, Context& c) {
    surface::deposit(wall, surface::wall_cell(wall, e.x, e.y, e.z), e.w, c);
    pass_output::tally(c).electron_wall_energy += pass_output::kinetic_energy(e.w, speed2(e), species::QM_ELECTRON);
}

// What the sub-steps of a flight change, held apart from the particle record
// so that the compiler keeps it in registers (the record's address escapes to
// the collision and wall routines, which pins it to memory).
struct Motion {
    double x, y, z;     // cm
    double vx, vy, vz;  // cm/s
    double t;           // s
};

// The particle record takes the state its sub-steps reached.
void take_motion(Particle& e, const Motion& m) {
    e.x = m.x, e.y = m.y, e.z = m.z, e.vx = m.vx, e.vy = m.vy, e.vz = m.vz, e.t = m.t;
}

// The fraction of a sub-step after which an electron of velocity (vx, vy, vz)
// that gains (dvx, dvy, dvz) over the whole sub-step reaches the speed whose
// square is cap_speed2, where it starts at or below it and ends above it. The
// squared speed is a convex quadratic in the fraction, so it crosses once;
// this is its larger root, in a form without cancellation.
double fraction_to_cap(double vx, double vy, double vz, double dvx, double dvy, double dvz, double cap_speed2) {
    const double a = dvx * dvx + dvy * dvy + dvz * dvz;
    const double b = 2 * (vx * dvx + vy * dvy + vz * dvz);
    const double c = vx * vx + vy * vy + vz * vz - cap_speed2;  // <= 0
    const double root = std::sqrt(std::max(b * b - 4 * a * c, 0.0));
    double f = b < 0 ? (root - b) / (2 * a) : (b + root > 0 ? -2 * c / (b + root) : 0.0);
    return std::clamp(f, 0.0, 1.0);
}

// One sub-step of length h (s) in the field at its start point: constant
// acceleration, so the position moves with the mean velocity.
[[gnu::always_inline]] inline void push(Motion& m, double h, double Ex, double Ey, double Ez) {
    const double dvx = h * Ex * MINUS_QM;
    m.x = m.x + (m.vx + dvx / 2) * h;
    m.vx = m.vx + dvx;
    const double dvy = h * Ey * MINUS_QM;
    m.y = m.y + (m.vy + dvy / 2) * h;
    m.vy = m.vy + dvy;
    const double dvz = h * Ez * MINUS_QM;
    m.z = m.z + (m.vz + dvz / 2) * h;
    m.vz = m.vz + dvz;
    m.t = m.t + h;
}

// The same sub-step where the speed would pass the band's cap: stopped there,
// returning true.
[[gnu::always_inline]] inline bool push_to_cap(Motion& m, double h, double Ex, double Ey, double Ez,
                                               double cap_speed2) {
    const double ux = m.vx + h * Ex * MINUS_QM, uy = m.vy + h * Ey * MINUS_QM,
                 uz = m.vz + h * Ez * MINUS_QM;  // cm/s, at the end
    if (!(ux * ux + uy * uy + uz * uz > cap_speed2)) {
        push(m, h, Ex, Ey, Ez);
        return false;
    }
    const double f = fraction_to_cap(m.vx, m.vy, m.vz, ux - m.vx, uy - m.vy, uz - m.vz, cap_speed2);
    push(m, f * h, Ex, Ey, Ez);
    return true;
}

// The field (V/cm) at the motion's position, carried from one leapfrog
// sub-step to the next and across collisions, which do not move the
// electron; `known` is false where it must be interpolated afresh.
struct FieldAt {
    double Ex, Ey, Ez;
    bool known;
};

// Symmetry planes mirror; one mirror must bring the electron back.
[[gnu::always_inline]] inline void mirror(Motion& m, const PassConstants& p) {
    if (m.y < p.ylow) {
        m.y = 2 * p.ylow - m.y;
        m.vy = -m.vy;
        if (m.y < p.ylow || m.y > p.yhigh) pdp::fatal("electron outside of region");
    }
    if (m.y > p.yhigh) {
        m.y = 2 * p.yhigh - m.y;
        m.vy = -m.vy;
        if (m.y < p.ylow || m.y > p.yhigh) pdp::fatal("electron outside of region");
    }
    if (m.z <= p.zlow) {
        m.z = 2 * p.zlow - m.z;
        m.vz = -m.vz;
        if (m.z < p.zlow || m.z > p.zhigh) pdp::fatal("electron outside of z region");
    }
}

// The dielectric wall that absorbs the electron, if it has reached one.
[[gnu::always_inline]] inline bool reaches_wall(const Motion& m, const PassConstants& p, surface::Wall& wall) {
    if (m.z >= p.zhigh) wall = surface::Wall::rib;
    else if (m.x <= p.xlow) wall = surface::Wall::front;
    else if (m.x >= p.xhigh) wall = surface::Wall::rear;
    else return false;
    return true;
}

// A first-order sub-step: the field at its start point, constant acceleration.
// Returns true where it stopped at the band's cap.
[[gnu::always_inline]] inline bool first_order_substep(Motion& m, double h, double cap_speed2, bool capped,
                                                       const PassConstants& p) {
    double Ex, Ey, Ez;
    mesh::interpolate_field(m.x, m.y, m.z, Ex, Ey, Ez);
    bool cut = false;
    if (capped) cut = push_to_cap(m, h, Ex, Ey, Ez, cap_speed2);
    else push(m, h, Ex, Ey, Ez);
    mirror(m, p);
    return cut;
}

// A second-order (leapfrog) sub-step: half a kick in the field at the start,
// the drift, half a kick in the field at the end. It is symplectic, so an
// electron bound in a plasma's potential well keeps its energy, where the
// first-order step gains a fraction of order omega·h of it every
// oscillation; that is why the first-order step needs many sub-steps per
// cell. Where the end speed passes the band's cap the sub-step is taken
// again from its start in the mean of the two fields, with constant
// acceleration, and stopped at the cap.
[[gnu::always_inline]] inline bool leapfrog_substep(Motion& m, double h, FieldAt& f, double cap_speed2, bool capped,
                                                    const PassConstants& p) {
    if (!f.known) mesh::interpolate_field(m.x, m.y, m.z, f.Ex, f.Ey, f.Ez);
    const Motion start = m;
    const FieldAt at_start = f;
    const double half_kick = h / 2 * MINUS_QM;  // cm/s per V/cm
    m.vx = m.vx + half_kick * f.Ex;
    m.vy = m.vy + half_kick * f.Ey;
    m.vz = m.vz + half_kick * f.Ez;
    m.x = m.x + m.vx * h;
    m.y = m.y + m.vy * h;
    m.z = m.z + m.vz * h;
    m.t = m.t + h;
    mirror(m, p);
    mesh::interpolate_field(m.x, m.y, m.z, f.Ex, f.Ey, f.Ez);
    f.known = true;
    m.vx = m.vx + half_kick * f.Ex;
    m.vy = m.vy + half_kick * f.Ey;
    m.vz = m.vz + half_kick * f.Ez;
    if (!capped || !(m.vx * m.vx + m.vy * m.vy + m.vz * m.vz > cap_speed2)) return false;
    m = start;
    const bool cut = push_to_cap(m, h, (at_start.Ex + f.Ex) / 2, (at_start.Ey + f.Ey) / 2, (at_start.Ez + f.Ez) / 2,
                                 cap_speed2);
    mirror(m, p);
    f.known = false;
    return cut;
}

enum class Flight { completed, cut, absorbed };

// A free flight of tau seconds in sub-steps of at most 1/SUBSTEPS_PER_CELL of
// a cell along each axis; cut short where the speed reaches the band's cap,
// or at a wall, which absorbs the electron and keeps its charge.
Flight fly(Particle& e, double tau, double cap_speed2, const PassConstants& p, Context& c, FieldAt& field) {
    double along_x = std::trunc(std::fabs(tau * e.vx * p.substeps_per_x));
    double along_y = std::trunc(std::fabs(tau * e.vy * p.substeps_per_y));
    double along_z = std::trunc(std::fabs(tau * e.vz * p.substeps_per_z));
    if (p.leapfrog) {
        // Fewer sub-steps per cell must still follow a slow electron that the
        // field turns round, as at the edge of a potential well: the way it
        // goes counts what the field adds to it.
        if (!field.known) mesh::interpolate_field(e.x, e.y, e.z, field.Ex, field.Ey, field.Ez);
        field.known = true;
        const double half_tau2 = tau * tau / 2 * species::QM_ELECTRON;  // cm per V/cm
        along_x = std::trunc((std::fabs(tau * e.vx) + std::fabs(half_tau2 * field.Ex)) * p.substeps_per_x);
        along_y = std::trunc((std::fabs(tau * e.vy) + std::fabs(half_tau2 * field.Ey)) * p.substeps_per_y);
        along_z = std::trunc((std::fabs(tau * e.vz) + std::fabs(half_tau2 * field.Ez)) * p.substeps_per_z);
    }
    const double most = std::max({along_x, along_y, along_z});
    check_flight(e, most);
    const int n = 1 + static_cast<int>(most);
    const double h = tau / n;

    Motion m{e.x, e.y, e.z, e.vx, e.vy, e.vz, e.t};
    // The exact mode's flights have no cap: a branch that always goes one way.
    const bool capped = cap_speed2 < std::numeric_limits<double>::infinity();
    for (int s = 0; s < n; ++s) {
        const bool cut = p.leapfrog ? leapfrog_substep(m, h, field, cap_speed2, capped, p)
                                    : first_order_substep(m, h, cap_speed2, capped, p);
        surface::Wall wall;
        if (reaches_wall(m, p, wall)) {
            c.substeps += s + 1;
            take_motion(e, m);
            absorb(wall, e, c);
            return Flight::absorbed;
        }
        if (cut) {
            c.substeps += s + 1;
            take_motion(e, m);
            return Flight::cut;
        }
    }
    c.substeps += n;
    take_motion(e, m);
    return Flight::completed;
}

// Takes the electron from its own clock to t_end through free flights that
// end in collision candidates. Returns false when a wall absorbed it.
bool move_through_flights(Particle& e, double t_end, const PassConstants& p, Context& c) {
    constexpr double NO_CAP = std::numeric_limits<double>::infinity();
    FieldAt field{0.0, 0.0, 0.0, false};
    while (e.t < t_end) {
        const Band band = p.energy_bands ? band_for(e.vx * e.vx + e.vy * e.vy + e.vz * e.vz)
                                         : Band{numax, NO_CAP, NO_CAP};
        double tau = -portable_math::log(pass_output::draw_uniform(c)) / band.numax;  // s
        bool collides = true;
        if (e.t + tau > t_end) {
            tau = t_end - e.t;
            collides = false;
        }
        ++c.flights;
        const Flight flight = fly(e, tau, band.cap_speed2, p, c, field);
        if (flight == Flight::absorbed) return false;
        if (flight == Flight::cut) continue;
        if (!collides) break;
        electron_collisions::collide(e, band.numax, c);
    }
    return true;
}

// A thermal electron's drift-diffusion sub-steps, while drift_diffusion's
// limits allow; the flights take over where they stop, in a direction drawn
// afresh, isotropic as the two-term distribution is. A sub-step that ends
// beyond a wall is cut where it crosses it, and the wall absorbs the
// electron: returns false.
bool drift_diffuse(Particle& e, double t_end, const PassConstants& p, Context& c) {
    using collision_frequencies::SPEED_PER_SQRT_EV;
    double energy = speed2(e) * EV_PER_SPEED2;  // eV
    Motion m{e.x, e.y, e.z, e.vx, e.vy, e.vz, e.t};
    double Ex, Ey, Ez;  // V/cm, at m
    mesh::interpolate_field(m.x, m.y, m.z, Ex, Ey, Ez);
    bool stepped = false;
    while (m.t < t_end) {
        const double wall_distance = std::min({m.x - p.xlow, p.xhigh - m.x, p.zhigh - m.z});  // cm
        const double field2 = Ex * Ex + Ey * Ey + Ez * Ez;
        const drift_diffusion::Transport t = drift_diffusion::transport(energy);
        if (!(stepped ? drift_diffusion::may_continue(energy, t, field2, wall_distance)
                      : drift_diffusion::may_enter(energy, t, field2, wall_distance)))
            break;
        const drift_diffusion::Substep s = drift_diffusion::substep(energy, t, Ex, Ey, Ez, t_end - m.t, c);
        const Motion start = m;
        m.x = m.x + s.dx;
        m.y = m.y + s.dy;
        m.z = m.z + s.dz;
        m.t = s.h < t_end - m.t ? m.t + s.h : t_end;
        const double recoil = pass_output::kinetic_energy(e.w, s.recoil / EV_PER_SPEED2, species::QM_ELECTRON);
        pass_output::tally(c).recoil_energy += recoil;
        pass_output::tally(c).electron_work += recoil;  // counted apart from the gain over the move
        ++c.substeps;
        stepped = true;
        const double y_before_mirror = m.y, z_before_mirror = m.z;
        mirror(m, p);
        surface::Wall wall;
        if (reaches_wall(m, p, wall)) {
            const double f = wall == surface::Wall::front ? (start.x - p.xlow) / (start.x - m.x)
                             : wall == surface::Wall::rear ? (p.xhigh - start.x) / (m.x - start.x)
                                                           : (p.zhigh - start.z) / (m.z - start.z);
            m.x = start.x + f * (m.x - start.x);
            m.y = start.y + f * (m.y - start.y);
            m.z = start.z + f * (m.z - start.z);
            m.t = start.t + f * (m.t - start.t);
            energy = std::fabs(energy - f * (Ex * s.dx + Ey * s.dy + Ez * s.dz) - s.recoil);
            const double speed = SPEED_PER_SQRT_EV * std::sqrt(energy);
            m.vx = speed, m.vy = 0, m.vz = 0;
            take_motion(e, m);
            absorb(wall, e, c);
            return false;
        }
        // The field's work -q E·dx, for an electron -E·dx in eV, with E the
        // mean of its values at the two ends: exact in a field that varies
        // linearly along the step. The field at the start alone would miss
        // the mean work D·h·div E of the diffusion across a space charge and
        // heat the electrons where the ions are in excess. A step across a
        // mirror plane ends, unmirrored, where the field is the mirror image
        // of the field at the mirrored end: its normal component turns. A
        // step below zero energy is taken as its mirror image.
        const double Ex0 = Ex, Ey0 = Ey, Ez0 = Ez;
        mesh::interpolate_field(m.x, m.y, m.z, Ex, Ey, Ez);
        const double Ey1 = m.y != y_before_mirror ? -Ey : Ey;
        const double Ez1 = m.z != z_before_mirror ? -Ez : Ez;
        const double work = -((Ex0 + Ex) * s.dx + (Ey0 + Ey1) * s.dy + (Ez0 + Ez1) * s.dz) / 2;  // eV
        energy = std::fabs(energy + work - s.recoil);
    }
    if (!stepped) return true;
    const double speed = SPEED_PER_SQRT_EV * std::sqrt(energy);
    const electron_collisions::Direction n = electron_collisions::isotropic_direction(c);
    m.vx = speed * n.x, m.vy = speed * n.y, m.vz = speed * n.z;
    take_motion(e, m);
    return true;
}

// The same, with the field's work on the electron for the report: a
// sub-step's push turns q E·dx into kinetic energy exactly, so the work is
// the kinetic energy gained over the move, less what the collisions changed
// (electron_collisions::perform takes that off).
bool move_electron(Particle& e, double t_end, const PassConstants& p, Context& c) {
    const double speed2_at_start = speed2(e);
    // A thermal electron's steps come first; the flights take it on from
    // where they stop.
    const bool stays = (!p.drift_diffusion || drift_diffuse(e, t_end, p, c)) && move_through_flights(e, t_end, p, c);
    pass_output::tally(c).electron_work +=
        pass_output::kinetic_energy(e.w, speed2(e) - speed2_at_start, species::QM_ELECTRON);
    return stays;
}

// The exact mode: one walk in store order, every number from the run's
// generator. After the compaction no dead slot lies at or beyond the cursor;
// the electrons born during the pass are appended behind it and moved from
// their birth time by this same walk.
void advance_electrons_in_order(double t_end, const PassConstants& p) {
    using namespace PARTICLE_STORAGE;
    Context c = pass_output::exact();
    Particle e;
    while (get_current(electrons, e)) {
        if (e.t < t_end) {
            if (move_electron(e, t_end, p, c)) set_current(electrons, e);
            else delete_current(electrons);
        }
        advance(electrons);
    }
    flight_count += c.flights;
    substep_count += c.substeps;
}

// The parallel mode: chunks of the store on the threads, each electron
// drawing from its own stream. The births of a round are merged in chunk
// order after it and moved from their birth time by the next round, until a
// round gives birth to no electron: the same physics as the exact walk, which
// reaches the newborns behind its cursor.
constexpr int ELECTRON_CHUNK = 4;  // records

struct Round {
    double t_end;
    const PassConstants* p;
    int first_slot;  // of the round's records
    int records;
};

std::vector<pass_output::Chunk> chunk_outputs;
chunked_work::Pace electron_pace;  // threads or the caller alone, whichever is faster here

void move_electron_chunk(void* context, int chunk) {
    using namespace PARTICLE_STORAGE;
    const Round& round = *static_cast<const Round*>(context);
    pass_output::Chunk& out = chunk_outputs[static_cast<std::size_t>(chunk)];
    pass_output::clear(out);
    const chunked_work::Range range = chunked_work::chunk_range(chunk, round.records, ELECTRON_CHUNK);
    Context c{random_source::Source{}, &out, 0, 0};
    for (int slot = round.first_slot + range.begin; slot < round.first_slot + range.end; ++slot) {
        if (electrons.alive[slot] == 0) continue;  // merged away between rounds
        Particle e;
        get_slot(electrons, slot, e);
        if (!(e.t < round.t_end)) continue;
        particle_streams::Stream stream =
            particle_streams::open_stream(parallel_mode::settings.key, electrons.id[slot], electrons.draws[slot]);
        c.source = random_source::particle_stream(stream);
        if (move_electron(e, round.t_end, *round.p, c)) set_slot(electrons, slot, e);
        else delete_slot(electrons, slot);
        electrons.draws[slot] = stream.counter;
    }
    out.flights = c.flights;
    out.substeps = c.substeps;
}

void advance_electrons_in_chunks(double t_end, const PassConstants& p) {
    using namespace PARTICLE_STORAGE;
    Round round{t_end, &p, 1, electrons.count};
    while (round.records > 0) {
        const int chunks = chunked_work::chunk_count(round.records, ELECTRON_CHUNK);
        if (chunk_outputs.size() < static_cast<std::size_t>(chunks))
            chunk_outputs.resize(static_cast<std::size_t>(chunks));
        chunked_work::run_chunks_paced(chunks, parallel_mode::settings.threads, move_electron_chunk, &round,
                                       electron_pace);
        // The newborns go behind the cursor: a store that merges to make room
        // for them keeps the moved and the unmoved records apart, and the
        // cursor follows the first unmoved one.
        electrons.cursor = electrons.count + 1;
        pass_output::merge(chunk_outputs, chunks, flight_count, substep_count);
        round.first_slot = electrons.cursor;
        round.records = electrons.count - electrons.cursor + 1;
    }
}

}  // namespace

void interpolate_electron_field(double x, double y, double z, double& Ex, double& Ey, double& Ez) {
    mesh::interpolate_field(x, y, z, Ex, Ey, Ez);
}

void advance_electrons(double t_end) {
    using namespace PARTICLE_STORAGE;
    if (first_call_done == 0) {
        // The bound of the case's fill (the built-in one's times 1); its
        // value per unit gas density, cm^3/s, then 1 % of head-room.
        numax = numax * collision_frequencies::bound_scale();
        fortran::write_line(stdout, fortran::ES(numax * species::fill().inv_density, 23, 16));
        numax = numax * 1.01;
        set_bands();
        first_call_done = 1;
    }
    const double per_cell = leapfrog_on ? LEAPFROG_SUBSTEPS_PER_CELL : SUBSTEPS_PER_CELL;
    const PassConstants p{mesh::xlow, mesh::xhigh, mesh::ylow, mesh::yhigh, mesh::zlow, mesh::zhigh,
                          per_cell / mesh::dx, per_cell / mesh::dy, per_cell / mesh::dz, parallel_mode::on(),
                          leapfrog_on, drift_diffusion::on()};

    compact(electrons);
    rewind(electrons);
    if (parallel_mode::on()) advance_electrons_in_chunks(t_end, p);
    else advance_electrons_in_order(t_end, p);
    compact(electrons);
    rewind(electrons);
}

void set_leapfrog(bool on) { leapfrog_on = on; }

void reset() {
    leapfrog_on = false;
    electron_pace = {};
    numax = NUMAX_START;
    first_call_done = 0;
    flight_count = 0;
    substep_count = 0;
}

}  // namespace electron_mover
