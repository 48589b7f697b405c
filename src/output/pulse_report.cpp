#include "output/pulse_report.hpp"

#include "common/fatal_error.hpp"
#include "common/output_streams.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/electron_fluid.hpp"
#include "electrons/hybrid_electrons.hpp"
#include "input/electrode_voltages.hpp"
#include "mesh/charge_and_field.hpp"
#include "mesh/electrode_response.hpp"
#include "mesh/mesh_arrays.hpp"
#include "output/density_accumulation.hpp"
#include "output/output_history.hpp"
#include "output/vuv_report.hpp"
#include "particles/particle_storage.hpp"
#include "particles/pass_output.hpp"
#include "particles/species.hpp"
#include "radiation/xe_kinetics.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace pulse_report {

namespace {

using namespace mesh;
using electrode_response::ELECTRODES;
using pass_output::PROCESS_COUNT;
using pass_output::Tally;

constexpr int S1 = 0, S2 = 1;

// The sums of the pulse in progress.
struct Pulse {
    double index;
    double t_start;              // s
    double v_applied;            // V, V_S1 - V_S2 of largest magnitude so far
    double wall_voltage_start;   // V
    double field_energy_start;   // J
    double charge[ELECTRODES];   // C, integral of the current into each electrode
    double drive_energy;         // J, integral of sum_e V_e·I_e
    double peak_current;         // A, conduction current into S1 of largest magnitude
    double t_peak;               // s
    double fired;                // 1 once the real ions exceed FIRING_IONS
    Tally tally;
};

// Everything the report carries from step to step; doubles only, so that the
// side file holds it value by value.
struct State {
    double last_sign;                      // of V_S1 - V_S2, the last one not 0
    double voltage_before[ELECTRODES];     // V, in the previous step
    double induced_at_sample[ELECTRODES];  // C, -sum q·psi_e at the latest sample
    double row_conduction[ELECTRODES];     // C, conduction charge since the last row
    double row_displacement[ELECTRODES];   // C
    double row_steps;
    double sample_voltage_sum[ELECTRODES]; // V, the voltages of the steps moved since the sample
    double sample_steps;
    Pulse pulse;
    Tally pending;                         // the moves' tally not yet taken
    double file_bytes[3];                  // of the three files at a checkpoint
};
static_assert(sizeof(State) % sizeof(double) == 0);
constexpr int STATE_VALUES = sizeof(State) / sizeof(double);

State state;
bool started = false;
std::FILE* currents = nullptr;
std::FILE* pulses = nullptr;
std::FILE* charges = nullptr;

// Node charges (C) and potentials (V) of the report's own solves.
double node_charge[NODE_COUNT];
double node_potential[NODE_COUNT];

const char* const CURRENTS_COMMENT =
    "# pdpcell currents: one row every 10 steps (1 ns); currents into the electrodes from the drive, averaged over "
    "the interval ending at t; conduction part by the Ramo-Shockley theorem, displacement part by the capacitance "
    "matrix; real numbers are sums of record weights";
const char* const CURRENTS_HEADER =
    "step,t_us,V_S1_V,V_S2_V,V_A_V,I_S1_uA,I_S2_uA,I_A_uA,Icond_S1_uA,Icond_S2_uA,Icond_A_uA,ions_real,"
    "electrons_real";
const char* const PULSES_COMMENT =
    "# pdpcell pulses: one row per half-period of the sustain voltage V_S1 - V_S2 (from one reversal of its sign "
    "to the next); charges and energies integrated over the pulse, collisions counted in real electrons";
const char* const PULSES_HEADER =
    "pulse,t_start_us,t_end_us,V_applied_V,Vwall_start_V,Vwall_end_V,fired,delay_ns,I_peak_uA,t_peak_us,Q_S1_pC,"
    "Q_S2_pC,Q_A_pC,E_drive_nJ,E_electrons_nJ,E_ions_nJ,n_elastic_Xe,n_elastic_Ne,n_exc_Xe1,n_exc_Xe2,n_exc_Xe3,"
    "n_exc_Xe4,n_exc_Xe5,n_exc_Xe6,n_ion_Xe,n_exc_Ne1,n_exc_Ne2,n_exc_Ne3,n_exc_Ne4,n_exc_Ne5,n_exc_Ne6,n_ion_Ne,"
    "VUV_efficiency,Qwall_S1_pC,Qwall_S2_pC,dE_field_nJ,E_collisions_nJ,E_electron_walls_nJ,E_ion_walls_nJ,"
    "E_ion_gas_nJ";
const char* const CHARGE_COMMENT =
    "# pdpcell electrode charge at every field solve: from the solve (flux of its field out of the electrode) and "
    "as the currents integrate it (capacitance times voltage less the charge the particles and walls induce), and "
    "the part induced by the electrons, which only the --plasma-field solve counts";
const char* const CHARGE_HEADER =
    "step,t_us,Q_solve_S1_pC,Q_solve_S2_pC,Q_solve_A_pC,Q_ramo_S1_pC,Q_ramo_S2_pC,Q_ramo_A_pC,Qe_S1_pC,Qe_S2_pC,"
    "Qe_A_pC";

// eV of each process's threshold (elastic: 0), in the tallies' order.
double threshold_ev(int process) {
    using collision_frequencies::SPEED_PER_SQRT_EV;
    using namespace species;
    double speed = 0.0;  // cm/s
    if (process >= 2 && process <= 7) speed = EXC_SPEED_XE[process - 2];
    if (process == 8) speed = ION_SPEED_XE;
    if (process >= 9 && process <= 14) speed = EXC_SPEED_NE[process - 9];
    if (process == 15) speed = ION_SPEED_NE;
    return (speed / SPEED_PER_SQRT_EV) * (speed / SPEED_PER_SQRT_EV);
}

double voltage(int e) { return electrodes::electrode_voltage[e + 1]; }

double sign_of(double v) { return v > 0.0 ? 1.0 : (v < 0.0 ? -1.0 : 0.0); }

// Calls f(node, weight) for the eight cloud-in-cell nodes of (x, y, z), with
// the weights the charge deposit gives them.
using densities::for_cloud;

// Adds sum_p w_p·psi_e(x_p) over a store to sums, and its records' |w| to charge.
void add_store_induction(const PARTICLE_STORAGE::Store& s, double sums[ELECTRODES], double& charge) {
    const double* psi = electrode_response::unit_potential;
    for (int slot = 1; slot <= s.count; ++slot) {
        const double w = s.w[slot];
        if (w == 0.0) continue;
        double a0 = 0.0, a1 = 0.0, a2 = 0.0;
        for_cloud(s.x[slot], s.y[slot], s.z[slot], [&](int n, double weight) {
            a0 += weight * psi[3 * n];
            a1 += weight * psi[3 * n + 1];
            a2 += weight * psi[3 * n + 2];
        });
        sums[0] += w * a0;
        sums[1] += w * a1;
        sums[2] += w * a2;
        charge += std::fabs(w);
    }
}

struct Sample {
    double induced[ELECTRODES];            // C, -sum q·psi_e over particles and walls
    double induced_by_electrons[ELECTRODES];
    double ions_real, electrons_real;
};

Sample take_sample() {
    Sample s{};
    double by_ions[ELECTRODES] = {}, by_electrons[ELECTRODES] = {}, by_walls[ELECTRODES] = {};
    double ion_charge = 0.0, electron_charge = 0.0;
    add_store_induction(PARTICLE_STORAGE::ions, by_ions, ion_charge);
    add_store_induction(PARTICLE_STORAGE::electrons, by_electrons, electron_charge);
    if (hybrid_electrons::fluid_active()) {
        // The fluid's electrons sit on the nodes: -e·n·V at each.
        const double* psi = electrode_response::unit_potential;
        const double cell_volume = 1.0 / inv_cell_volume;
        for (int n = 0; n < NODE_COUNT; ++n) {
            const double q = -ELECTRON_CHARGE * electron_fluid::density[n] * cell_volume;
            if (q == 0.0) continue;
            for (int e = 0; e < ELECTRODES; ++e) by_electrons[e] += q * psi[3 * n + e];
            electron_charge -= q;
        }
    }
    // The wall charge on the nodes the field solve puts it on.
    std::fill(node_charge, node_charge + NODE_COUNT, 0.0);
    field::add_wall_charge(node_charge, 1.0 / inv_cell_volume);
    const double* psi = electrode_response::unit_potential;
    for (int n = 0; n < NODE_COUNT; ++n)
        if (node_charge[n] != 0.0)
            for (int e = 0; e < ELECTRODES; ++e) by_walls[e] += node_charge[n] * psi[3 * n + e];
    for (int e = 0; e < ELECTRODES; ++e) {
        s.induced[e] = -(by_ions[e] + by_electrons[e] + by_walls[e]);
        s.induced_by_electrons[e] = -by_electrons[e];
    }
    s.ions_real = ion_charge / ELECTRON_CHARGE;
    s.electrons_real = electron_charge / ELECTRON_CHARGE;
    return s;
}

// The conduction charge since the previous sample goes to the row and the
// pulse, with the energy the drive gave it at the mean voltage of the steps.
Sample sample_now() {
    const Sample s = take_sample();
    for (int e = 0; e < ELECTRODES; ++e) {
        const double moved = s.induced[e] - state.induced_at_sample[e];
        state.row_conduction[e] += moved;
        state.pulse.charge[e] += moved;
        if (state.sample_steps > 0) state.pulse.drive_energy += state.sample_voltage_sum[e] / state.sample_steps * moved;
        state.induced_at_sample[e] = s.induced[e];
        state.sample_voltage_sum[e] = 0.0;
    }
    state.sample_steps = 0;
    if (s.ions_real > FIRING_IONS) state.pulse.fired = 1;
    return s;
}

// The wall voltage and the wall charge over S1 and S2, from a solve of the
// wall charge alone with the electrodes at 0 V: the potential of the front
// dielectric's surface (where the solve's split puts the sheet) averaged over
// each sustain electrode.
struct Walls {
    double voltage;               // V, over S1 less over S2
    double charge[2];             // C
};

Walls measure_walls() {
    std::fill(node_charge, node_charge + NODE_COUNT, 0.0);
    field::add_wall_charge(node_charge, 1.0 / inv_cell_volume);
    electrode_response::solve_grounded(node_charge, node_potential);
    Walls w{};
    double surface[2] = {}, cells[2] = {};
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j) {
            const int e = electrode_map[node(1, j, k)] - 1;
            if (e != S1 && e != S2) continue;
            if (material_map[padded(ilo - 1, j, k)] != 1) continue;
            const double eps = eps_node[node(ilo - 1, j, k)];
            surface[e] += (node_potential[node(ilo, j, k)] + eps * node_potential[node(ilo - 1, j, k)]) / (eps + 1.0);
            cells[e] += 1.0;
            w.charge[e] += wall_charge_x[padded(ilo, j, k)] / inv_cell_volume;
        }
    if (cells[S1] > 0 && cells[S2] > 0) w.voltage = surface[S1] / cells[S1] - surface[S2] / cells[S2];
    return w;
}

// Field energy (J) of the cell: the electrodes at their voltages plus every
// charge (ions, electrons, walls) with the electrodes at 0 V; the cross term
// of the two vanishes.
double field_energy() {
    std::fill(node_charge, node_charge + NODE_COUNT, 0.0);
    field::add_wall_charge(node_charge, 1.0 / inv_cell_volume);
    for (const PARTICLE_STORAGE::Store* s : {&PARTICLE_STORAGE::ions, &PARTICLE_STORAGE::electrons})
        for (int slot = 1; slot <= s->count; ++slot) {
            const double w = s->w[slot];
            if (w != 0.0) for_cloud(s->x[slot], s->y[slot], s->z[slot], [&](int n, double f) { node_charge[n] += w * f; });
        }
    electrode_response::solve_grounded(node_charge, node_potential);
    double self = 0.0;
    for (int n = 0; n < NODE_COUNT; ++n) self += node_charge[n] * node_potential[n];
    double drive = 0.0;
    for (int e = 0; e < ELECTRODES; ++e)
        for (int f = 0; f < ELECTRODES; ++f) drive += voltage(e) * electrode_response::capacitance[e][f] * voltage(f);
    return 0.5 * (drive + self);
}

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6e", v);
    return buf;
}

void open_fresh() {
    currents = output_streams::open_or_stop(CURRENTS_FILE, "w");
    pulses = output_streams::open_or_stop(PULSES_FILE, "w");
    charges = output_streams::open_or_stop(CHARGE_FILE, "w");
    output_streams::write_line_or_stop(currents, CURRENTS_FILE, std::string(CURRENTS_COMMENT) + "\n" + CURRENTS_HEADER);
    output_streams::write_line_or_stop(pulses, PULSES_FILE, std::string(PULSES_COMMENT) + "\n" + PULSES_HEADER);
    output_streams::write_line_or_stop(charges, CHARGE_FILE, std::string(CHARGE_COMMENT) + "\n" + CHARGE_HEADER);
}

void start_pulse(double index, double t, const Walls& walls, double energy) {
    state.pulse = Pulse{};
    state.pulse.index = index;
    state.pulse.t_start = t;
    state.pulse.wall_voltage_start = walls.voltage;
    state.pulse.field_energy_start = energy;
}

void finish_pulse(double t, const Walls& walls, double energy) {
    const Pulse& p = state.pulse;
    const Tally& tally = p.tally;
    std::string row = std::to_string(static_cast<long>(p.index)) + "," + number(p.t_start * 1e6) + "," +
                      number(t * 1e6) + "," + number(p.v_applied) + "," + number(p.wall_voltage_start) + "," +
                      number(walls.voltage) + "," + (p.fired != 0 ? "1," + number((p.t_peak - p.t_start) * 1e9) : "0,") +
                      "," + number(p.peak_current * 1e6) + "," + number(p.t_peak * 1e6);
    for (int e = 0; e < ELECTRODES; ++e) row += "," + number(p.charge[e] * 1e12);
    row += "," + number(p.drive_energy * 1e9) + "," + number(tally.electron_work * 1e9) + "," +
           number(tally.ion_work * 1e9);
    double collision_energy = tally.recoil_energy;  // J
    for (int k = 0; k < PROCESS_COUNT; ++k) {
        row += "," + number(tally.collided[k] / ELECTRON_CHARGE);
        collision_energy += tally.collided[k] * threshold_ev(k);  // C·V
    }
    // Xe level 1 (8.31 eV) feeds the 173 nm excimer, level 2 (8.44 eV) emits at 147 nm.
    const double vuv_energy = tally.collided[2] * threshold_ev(2) + tally.collided[3] * threshold_ev(3);
    row += "," + (p.drive_energy != 0.0 ? number(vuv_energy / p.drive_energy) : number(0.0));
    row += "," + number(walls.charge[S1] * 1e12) + "," + number(walls.charge[S2] * 1e12) + "," +
           number((energy - p.field_energy_start) * 1e9) + "," + number(collision_energy * 1e9) + "," +
           number(tally.electron_wall_energy * 1e9) + "," + number(tally.ion_wall_energy * 1e9) + "," +
           number(tally.ion_exchange_energy * 1e9);
    output_streams::write_line_or_stop(pulses, PULSES_FILE, row);
}

void write_current_row(int nstep, double t, double time_step, const Sample& s) {
    const double interval = state.row_steps * time_step;  // s
    std::string row = std::to_string(nstep) + "," + number(t * 1e6);
    for (int e = 0; e < ELECTRODES; ++e) row += "," + number(voltage(e));
    for (int e = 0; e < ELECTRODES; ++e)
        row += "," + number((state.row_conduction[e] + state.row_displacement[e]) / interval * 1e6);
    for (int e = 0; e < ELECTRODES; ++e) row += "," + number(state.row_conduction[e] / interval * 1e6);
    row += "," + number(s.ions_real) + "," + number(s.electrons_real);
    output_streams::write_line_or_stop(currents, CURRENTS_FILE, row);

    const double conduction_s1 = state.row_conduction[S1] / interval;  // A
    if (std::fabs(conduction_s1) > std::fabs(state.pulse.peak_current)) {
        state.pulse.peak_current = conduction_s1;
        state.pulse.t_peak = t;
    }
    for (int e = 0; e < ELECTRODES; ++e) state.row_conduction[e] = state.row_displacement[e] = 0.0;
    state.row_steps = 0;
}

void write_charge_row(int nstep, double t, const Sample& s) {
    double from_solve[ELECTRODES];
    electrode_response::electrode_charges(phi, from_solve);
    std::string row = std::to_string(nstep) + "," + number(t * 1e6);
    for (int e = 0; e < ELECTRODES; ++e) row += "," + number(from_solve[e] * 1e12);
    for (int e = 0; e < ELECTRODES; ++e) {
        double q = s.induced[e];
        for (int f = 0; f < ELECTRODES; ++f) q += electrode_response::capacitance[e][f] * voltage(f);
        row += "," + number(q * 1e12);
    }
    for (int e = 0; e < ELECTRODES; ++e) row += "," + number(s.induced_by_electrons[e] * 1e12);
    output_streams::write_line_or_stop(charges, CHARGE_FILE, row);
}

void begin(int nstep, double t, bool field_solved) {
    open_fresh();
    state = State{};
    const Sample s = take_sample();
    for (int e = 0; e < ELECTRODES; ++e) {
        state.induced_at_sample[e] = s.induced[e];
        state.voltage_before[e] = voltage(e);
    }
    state.last_sign = sign_of(voltage(S1) - voltage(S2));
    start_pulse(1, t, measure_walls(), field_energy());
    state.pulse.v_applied = voltage(S1) - voltage(S2);
    if (s.ions_real > FIRING_IONS) state.pulse.fired = 1;
    if (field_solved) write_charge_row(nstep, t, s);
    started = true;
}

// The side file: a line naming it and the step, then the state value by value
// in hexadecimal floating point, which reads back to the same bits.
const char* const SIDE_TITLE = "pdpcell pulse report state at step";

std::string side_file(const char* checkpoint_file) { return std::string(checkpoint_file) + ".report"; }

}  // namespace

void account_step(int nstep, double t, double time_step, bool field_solved) {
    if (!electrode_response::computed()) electrode_response::compute();
    if (!started) {
        begin(nstep, t, field_solved);
        return;
    }
    const int n = nstep - 1;
    pass_output::add(state.pulse.tally, pass_output::take_tally());

    // The previous step: its displacement current, and its voltages for the
    // conduction charge the next sample finds.
    for (int e = 0; e < ELECTRODES; ++e) {
        double moved = 0.0;
        for (int f = 0; f < ELECTRODES; ++f)
            moved += electrode_response::capacitance[e][f] * (voltage(f) - state.voltage_before[f]);
        state.row_displacement[e] += moved;
        state.pulse.charge[e] += moved;
        state.pulse.drive_energy += 0.5 * (voltage(e) + state.voltage_before[e]) * moved;
        state.sample_voltage_sum[e] += state.voltage_before[e];
    }
    state.sample_steps += 1;
    state.row_steps += 1;

    const double sign = sign_of(voltage(S1) - voltage(S2));
    const bool reversal = sign != 0.0 && sign != state.last_sign;
    const bool row_due = n % ROW_STEPS == 0;
    if (row_due || reversal || field_solved) {
        const Sample s = sample_now();
        if (row_due) write_current_row(nstep, t, time_step, s);
        if (field_solved) write_charge_row(nstep, t, s);
    }
    if (reversal) {
        const Walls walls = measure_walls();
        const double energy = field_energy();
        if (state.last_sign != 0.0) {
            finish_pulse(t, walls, energy);
            if (xe_kinetics::on())
                vuv_report::finish_pulse(nstep, t, time_step, state.pulse.index, state.pulse.t_start,
                                         state.pulse.drive_energy);
        }
        start_pulse(state.pulse.index + (state.last_sign != 0.0 ? 1 : 0), t, walls, energy);
        state.last_sign = sign;
    }
    const double applied = voltage(S1) - voltage(S2);
    if (std::fabs(applied) > std::fabs(state.pulse.v_applied)) state.pulse.v_applied = applied;
    for (int e = 0; e < ELECTRODES; ++e) state.voltage_before[e] = voltage(e);
}

void save_for_restart(const char* checkpoint_file, int nstep) {
    if (!started) return;
    state.pending = pass_output::pass_tally;
    std::FILE* files[3] = {currents, pulses, charges};
    for (int f = 0; f < 3; ++f) state.file_bytes[f] = static_cast<double>(std::ftell(files[f]));
    const std::string name = side_file(checkpoint_file), temporary = name + ".tmp";
    std::FILE* out = output_streams::open_or_stop(temporary.c_str(), "w");
    std::fprintf(out, "%s %d\n", SIDE_TITLE, nstep);
    const double* values = reinterpret_cast<const double*>(&state);
    for (int k = 0; k < STATE_VALUES; ++k) std::fprintf(out, "%a\n", values[k]);
    output_streams::close_or_stop(out, temporary);
    if (std::rename(temporary.c_str(), name.c_str()) != 0)
        pdp::fatal("ERROR: writing file " + name + " failed: can't rename " + temporary);
}

void continue_after_restart(const char* checkpoint_file, int nstep) {
    reset();
    const std::string name = side_file(checkpoint_file);
    std::FILE* in = std::fopen(name.c_str(), "r");
    State loaded{};
    bool ok = in != nullptr;
    if (ok) {
        char title[64] = {};
        int step = 0;
        ok = std::fscanf(in, "%63[^0-9] %d", title, &step) == 2 && step == nstep &&
             std::string(title) == std::string(SIDE_TITLE) + " ";
        double* values = reinterpret_cast<double*>(&loaded);
        char text[64];
        for (int k = 0; ok && k < STATE_VALUES; ++k) {
            ok = std::fscanf(in, "%63s", text) == 1;
            char* end = nullptr;
            values[k] = std::strtod(text, &end);
            ok = ok && *end == '\0';
        }
        std::fclose(in);
    }
    if (!ok) {
        std::printf("%s\n", ("pulse report: no state of step " + std::to_string(nstep) + " in " + name +
                             "; currents.csv, pulses.csv and electrode_charge.csv start afresh")
                                .c_str());
        return;  // the next step begins them
    }
    const char* names[3] = {CURRENTS_FILE, PULSES_FILE, CHARGE_FILE};
    std::FILE** files[3] = {&currents, &pulses, &charges};
    for (int f = 0; f < 3; ++f)
        *files[f] = output_history::reopen_at(names[f], static_cast<long>(loaded.file_bytes[f]), nstep,
                                              "restore it, or delete " + name + " to start the report files afresh");
    state = loaded;
    pass_output::pass_tally = state.pending;
    started = true;
}

void reset() {
    for (std::FILE** f : {&currents, &pulses, &charges})
        if (*f != nullptr) {
            std::fclose(*f);
            *f = nullptr;
        }
    state = State{};
    started = false;
}

}  // namespace pulse_report
