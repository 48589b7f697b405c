#include "output/vuv_report.hpp"

#include "common/fatal_error.hpp"
#include "common/output_streams.hpp"
#include "electrons/collision_frequencies.hpp"
#include "output/output_history.hpp"
#include "particles/species.hpp"
#include "radiation/xe_kinetics.hpp"

#include <algorithm>
#include <cstdio>
#include <string>

namespace vuv_report {

namespace {

using xe_kinetics::FRONT;
using xe_kinetics::PHOSPHOR;
using xe_rates::LINES;

// Everything carried from step to step; doubles only, for the checkpoint.
struct State {
    double nstep_done;           // the kinetics advanced to the start of this step
    double row_nstep;            // step of the last row of vuv.csv
    xe_kinetics::Tally at_row;   // the kinetics' tally then
    xe_kinetics::Tally at_pulse; // and at the start of the pulse
    double peak[2];              // cm^-3, of 1s5 and 1s4 during the pulse
    double file_bytes[2];        // of the two files at a checkpoint
};
static_assert(sizeof(State) % sizeof(double) == 0);
constexpr int STATE_VALUES = sizeof(State) / sizeof(double);

State state;
bool started = false;
std::FILE* series = nullptr;
std::FILE* pulses = nullptr;

const char* const SERIES_COMMENT =
    "# pdpcell VUV light (--vuv): every 1 ns, the mean power of each line over the interval ending at t reaching "
    "the phosphor (rear plate and ribs) and the front plate, real atoms and excimers in the states, peak node "
    "densities";
const char* const SERIES_HEADER =
    "step,t_us,P147_phosphor_W,P150_phosphor_W,P173_phosphor_W,P147_front_W,P150_front_W,P173_front_W,N_1s5,N_1s4,"
    "N_Xe_higher,N_excimers,peak_1s5_cm3,peak_1s4_cm3";
const char* const PULSES_COMMENT =
    "# pdpcell VUV per pulse (--vuv): the pulses of pulses.csv, light counted until the next pulse starts; "
    "photons in real numbers, energies in nJ; VUV_efficiency = VUV energy on the phosphor / E_drive";
const char* const PULSES_HEADER =
    "pulse,t_start_us,t_end_us,E_drive_nJ,n_exc_Xe,E_exc_Xe_nJ,Xe_excitation_share,photons147_phosphor,"
    "photons150_phosphor,photons173_phosphor,photons147_front,photons150_front,photons173_front,E_VUV_phosphor_nJ,"
    "E_VUV_front_nJ,VUV_efficiency,ratio_173_147,wall_losses,peak_1s5_cm3,peak_1s4_cm3,superelastic_losses,"
    "exposure_1s5_s_per_cm3,exposure_1s4_s_per_cm3";

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6e", v);
    return buf;
}

// eV of Xe level k = 1..6.
double level_ev(int k) {
    const double u = species::EXC_SPEED_XE[k - 1] / collision_frequencies::SPEED_PER_SQRT_EV;
    return u * u;
}

void advance_to(int nstep, double time_step) {
    const int steps = nstep - static_cast<int>(state.nstep_done);
    if (steps <= 0) return;
    xe_kinetics::advance(steps * time_step);
    state.nstep_done = nstep;
    state.peak[0] = std::max(state.peak[0], xe_kinetics::peak_density(xe_rates::METASTABLE));
    state.peak[1] = std::max(state.peak[1], xe_kinetics::peak_density(xe_rates::RESONANT));
}

void write_series_row(int nstep, double t, double time_step) {
    const xe_kinetics::Tally& now = xe_kinetics::tally();
    const double interval = (nstep - state.row_nstep) * time_step;  // s
    std::string row = std::to_string(nstep) + "," + number(t * 1e6);
    for (const int d : {PHOSPHOR, FRONT})
        for (int l = 0; l < LINES; ++l)
            row += "," + number((now.photons[d][l] - state.at_row.photons[d][l]) * xe_rates::PHOTON_EV[l] *
                                species::ELECTRON_CHARGE / interval);
    using namespace xe_rates;
    row += "," + number(xe_kinetics::total(METASTABLE)) + "," + number(xe_kinetics::total(RESONANT)) + "," +
           number(xe_kinetics::total(HIGHER)) + "," +
           number(xe_kinetics::total(SINGLET_HOT) + xe_kinetics::total(SINGLET) + xe_kinetics::total(TRIPLET)) + "," +
           number(xe_kinetics::peak_density(METASTABLE)) + "," + number(xe_kinetics::peak_density(RESONANT));
    output_streams::write_line_or_stop(series, SERIES_FILE, row);
    state.at_row = now;
    state.row_nstep = nstep;
}

void begin(int nstep) {
    series = output_streams::open_or_stop(SERIES_FILE, "w");
    pulses = output_streams::open_or_stop(PULSES_FILE, "w");
    output_streams::write_line_or_stop(series, SERIES_FILE, std::string(SERIES_COMMENT) + "\n" + SERIES_HEADER);
    output_streams::write_line_or_stop(pulses, PULSES_FILE, std::string(PULSES_COMMENT) + "\n" + PULSES_HEADER);
    state = State{};
    state.nstep_done = state.row_nstep = nstep;
    state.at_row = state.at_pulse = xe_kinetics::tally();
    started = true;
}

}  // namespace

void account_step(int nstep, double t, double time_step) {
    if (!started) {
        begin(nstep);
        return;
    }
    if ((nstep - 1) % ROW_STEPS != 0) return;
    advance_to(nstep, time_step);
    write_series_row(nstep, t, time_step);
}

void finish_pulse(int nstep, double t, double time_step, double index, double t_start, double drive_energy) {
    if (!started) return;
    advance_to(nstep, time_step);
    const xe_kinetics::Tally& now = xe_kinetics::tally();
    const xe_kinetics::Tally& then = state.at_pulse;
    double excited = 0.0, excitation_energy = 0.0;  // real atoms, J
    for (int k = 1; k <= 6; ++k) {
        const double n = now.excited[k - 1] - then.excited[k - 1];
        excited += n;
        excitation_energy += n * level_ev(k) * species::ELECTRON_CHARGE;
    }
    auto share = [&](double e) { return drive_energy != 0.0 ? e / drive_energy : 0.0; };
    std::string row = std::to_string(static_cast<long>(index)) + "," + number(t_start * 1e6) + "," +
                      number(t * 1e6) + "," + number(drive_energy * 1e9) + "," + number(excited) + "," +
                      number(excitation_energy * 1e9) + "," + number(share(excitation_energy));
    double energy[2] = {}, photons[LINES] = {};
    for (const int d : {PHOSPHOR, FRONT})
        for (int l = 0; l < LINES; ++l) {
            const double n = now.photons[d][l] - then.photons[d][l];
            row += "," + number(n);
            energy[d] += n * xe_rates::PHOTON_EV[l] * species::ELECTRON_CHARGE;
            photons[l] += n;
        }
    row += "," + number(energy[PHOSPHOR] * 1e9) + "," + number(energy[FRONT] * 1e9) + "," +
           number(share(energy[PHOSPHOR])) + "," +
           number(photons[xe_rates::LINE_147] != 0.0 ? photons[xe_rates::LINE_173] / photons[xe_rates::LINE_147] : 0.0) +
           "," + number(now.wall_loss - then.wall_loss) + "," + number(state.peak[0]) + "," + number(state.peak[1]) + "," +
           number(now.superelastic[0] + now.superelastic[1] - then.superelastic[0] - then.superelastic[1]) + "," +
           number(now.exposure[0] - then.exposure[0]) + "," + number(now.exposure[1] - then.exposure[1]);
    output_streams::write_line_or_stop(pulses, PULSES_FILE, row);
    state.at_pulse = now;
    state.peak[0] = xe_kinetics::peak_density(xe_rates::METASTABLE);
    state.peak[1] = xe_kinetics::peak_density(xe_rates::RESONANT);
}

int saved_count() { return STATE_VALUES + xe_kinetics::saved_count(); }

void save(double* values) {
    std::FILE* files[2] = {series, pulses};
    for (int f = 0; f < 2; ++f) state.file_bytes[f] = files[f] != nullptr ? static_cast<double>(std::ftell(files[f])) : 0.0;
    const double* own = reinterpret_cast<const double*>(&state);
    std::copy(own, own + STATE_VALUES, values);
    xe_kinetics::save(values + STATE_VALUES);
}

void load(const double* values) {
    double* own = reinterpret_cast<double*>(&state);
    std::copy(values, values + STATE_VALUES, own);
    xe_kinetics::load(values + STATE_VALUES);
}

void continue_after_restart(int nstep) {
    const char* names[2] = {SERIES_FILE, PULSES_FILE};
    std::FILE** files[2] = {&series, &pulses};
    for (int f = 0; f < 2; ++f)
        *files[f] = output_history::reopen_at(names[f], static_cast<long>(state.file_bytes[f]), nstep,
                                              "restore it, or start a new run (restart flag 0)");
    started = true;
}

void reset() {
    for (std::FILE** f : {&series, &pulses})
        if (*f != nullptr) {
            std::fclose(*f);
            *f = nullptr;
        }
    state = State{};
    started = false;
}

}  // namespace vuv_report
