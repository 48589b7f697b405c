#include "driver/main_program.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/list_reader.hpp"
#include "common/output_streams.hpp"
#include "driver/checkpoint.hpp"
#include "driver/particle_seeding.hpp"
#include "driver/restart_model.hpp"
#include "driver/run_end.hpp"
#include "driver/runaway_check.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/drift_diffusion.hpp"
#include "electrons/electron_mover.hpp"
#include "electrons/electron_fluid_field.hpp"
#include "electrons/electron_transport_tables.hpp"
#include "electrons/fluid_coupling.hpp"
#include "electrons/hybrid_electrons.hpp"
#include "input/cell_file.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "input/voltage_file.hpp"
#include "ions/floating_gap_solver.hpp"
#include "ions/ion_mover.hpp"
#include "ions/sustain_state.hpp"
#include "mesh/charge_and_field.hpp"
#include "mesh/conducting_solve.hpp"
#include "mesh/electrode_response.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/plasma_field.hpp"
#include "mesh/potential_solver.hpp"
#include "output/density_accumulation.hpp"
#include "output/diagnostics.hpp"
#include "output/progress.hpp"
#include "output/output_history.hpp"
#include "output/pulse_report.hpp"
#include "output/slices.hpp"
#include "output/vuv_report.hpp"
#include "output/vtk_output.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_merging.hpp"
#include "particles/particle_storage.hpp"
#include "particles/pass_output.hpp"
#include "particles/random_numbers.hpp"
#include "particles/species.hpp"
#include "radiation/xe_kinetics.hpp"

#include <algorithm>
#include <cstdlib>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <string>

namespace driver {

int nstep = 1;
double t = 0.0;
double dt = 2e-10;
int restart_flag = 0;
int slice_interval = 1000;
double last_slice_time = -2e-13;
bool diag_flag = false;
double start_cpu = 0.0;
double current_cpu = 0.0;
double t11 = 0.0, t22 = 0.0, t33 = 0.0;

namespace {

const char* const LOG_HEADER =
    " nstep     Time_mks        Vs1        Vs2       Vaddr     Ions     Elecs     cpu_time";
const char* const LOG_FILE = "general.txt";

// A new run log, replacing any earlier one.
std::FILE* start_run_log() {
    std::FILE* log = std::fopen(LOG_FILE, "w");
    if (log == nullptr) pdp::fatal(std::string("ERROR: Can't open file: ") + LOG_FILE);
    fortran::write_line(log, LOG_HEADER);
    output_streams::flush_or_stop(log, LOG_FILE);
    return log;
}

// A restarted run keeps what its earlier run logged and sliced before the
// saved step, and appends from there; until the checkpoint has been read,
// nothing of it is touched.
std::FILE* continue_run_log_and_slices() {
    const long kept = output_history::run_log_length(LOG_FILE, LOG_HEADER, nstep);
    output_history::cut_file(LOG_FILE, kept);
    std::FILE* log = std::fopen(LOG_FILE, "a");
    if (log == nullptr) pdp::fatal(std::string("ERROR: Can't open file: ") + LOG_FILE);
    if (kept == 0) fortran::write_line(log, LOG_HEADER);
    output_streams::flush_or_stop(log, LOG_FILE);
    // The block of the saved step itself, printed with 13 digits, lies
    // within half a step of t; the blocks before it a whole step or more.
    slices::continue_files(t - 0.5 * TIME_STEP);
    return log;
}

// Line 49 of "input_file.txt" holds the restart flag as its first value.
int read_restart_flag() {
    const int unit = FILE_MANAGER::OPENFILE("input_file.txt", "READ");
    const std::string form = fortran::unreadable_text_form(FILE_MANAGER::stream(unit));
    if (!form.empty())
        pdp::fatal({"ERROR: input_file.txt " + form,
                    "       save it as plain text (ASCII or UTF-8) with LF or CR LF line ends"});
    fortran::ListReader reader(FILE_MANAGER::stream(unit));
    int flag = 0;
    if (!reader.skip_lines(48) || !reader.read_integer(flag))
        pdp::fatal("ERROR: reading the restart flag (first value of line 49) from input_file.txt");
    return flag;
}

// The run ends at the end time, at the step limit or after --max-steps,
// whichever comes first.
progress::RunPlan progress_plan(const run_options::Options& options) {
    progress::RunPlan plan;
    plan.every = options.progress_every;
    plan.merging = options.max_ions > 0 || options.max_electrons > 0;
    plan.end_time = END_TIME;
    plan.last_step = options.max_steps > 0 ? std::min(MAX_STEP, options.max_steps) : MAX_STEP;
    plan.time_step = TIME_STEP;
    const cell_file::Cell& cell = cell_file::current();
    if (cell.given) {
        char text[160];
        std::snprintf(text, sizeof text, "%s: Ne + %.4g %% Xe at %.6g cm^-3 (all values in control_file.txt)",
                      cell_file::CELL_FILE, 100 * cell.xenon_fraction, cell.density);
        plan.cell = text;
    }
    return plan;
}

std::string exit_reason(const run_options::Options& options) {
    if (options.max_steps > 0 && nstep > options.max_steps)
        return "--max-steps " + std::to_string(options.max_steps) + " reached";
    if (t > END_TIME) {
        char end_us[32];
        std::snprintf(end_us, sizeof end_us, "%g", END_TIME * 1e6);
        return std::string("end time reached (t > ") + end_us + " us)";
    }
    return "step limit reached (" + std::to_string(MAX_STEP) + " steps)";
}

// SIGTERM (a batch system's time limit) or SIGINT (Ctrl-C) during the time
// loop: the step is finished, a checkpoint written and the run ends with
// INTERRUPTED_EXIT_STATUS. A second one ends the program at once.
volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop_signal(int signal_number) {
    if (stop_signal != 0) {
        std::signal(signal_number, SIG_DFL);
        std::raise(signal_number);
        return;
    }
    stop_signal = signal_number;
}

struct StopSignals {
    struct sigaction previous_term{}, previous_int{};
    StopSignals() {
        stop_signal = 0;
        struct sigaction action{};
        action.sa_handler = on_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, &previous_term);
        sigaction(SIGINT, &action, &previous_int);
    }
    // The end-of-run pause waits for Ctrl-C as before.
    ~StopSignals() {
        sigaction(SIGTERM, &previous_term, nullptr);
        sigaction(SIGINT, &previous_int, nullptr);
    }
};

const char* signal_name(int signal_number) { return signal_number == SIGINT ? "SIGINT" : "SIGTERM"; }

// A run started in the wrong folder would otherwise say only that it can't
// open the file.
void require_input_file() {
    if (std::filesystem::exists("input_file.txt")) return;
    pdp::fatal({"ERROR: there is no input_file.txt in the folder " + std::filesystem::current_path().string(),
                "       run pdpcell in a case folder, which holds input_file.txt and Vdata.txt (as examples/sustain does)"});
}

void require_checkpoint(const run_options::Options& options) {
    if (std::filesystem::exists(checkpoint::RESTART_FILE)) return;
    if (options.restart) pdp::fatal("ERROR: no checkpoint in this folder; run without --restart to start at t = 0");
    pdp::fatal({"ERROR: no checkpoint in this folder, but the restart flag (line 49 of input_file.txt) is 1",
                "       set it to 0 to start at t = 0"});
}

// A restarted run takes its model and its end from the checkpoint before
// anything else is done, so that a refusal leaves every file as it was.
run_options::Options model_for_this_run(const run_options::Options& options) {
    require_input_file();
    run_options::Options run = options;
    if (restart_model::restart_requested(options)) {
        require_checkpoint(options);
        const checkpoint::SavedRun saved = checkpoint::read_saved_run();
        restart_model::take_saved_model(run, saved);
        restart_model::take_saved_end(run, saved);
    }
    checkpoint::set_run_model(restart_model::model_of(run));
    return run;
}

// The case's cell and fill, before anything reads them; a run without a cell
// file keeps the built-in fill as it is typed.
void take_case_cell() {
    const cell_file::Cell cell = cell_file::read_case_cell();
    cell_file::set_current(cell);
    species::set_fill(cell.given ? cell_file::fill_of(cell) : species::BUILT_IN_FILL);
    collision_frequencies::follow_fill();
}

// The checkpoint and what is kept beside it.
void write_checkpoint(const run_options::Options& options) {
    checkpoint::checkpoint_restart(0, t, nstep, dt);
    pulse_report::save_for_restart(checkpoint::RESTART_FILE, nstep);
    run_end::save(nstep, options.max_steps);
    progress::checkpoint_written(nstep, t);
}

}  // namespace

double processor_time() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

void write_log_line(std::FILE* log) {
    using namespace fortran;
    const double* v = electrodes::electrode_voltage;
    std::string line = I(nstep, 8) + F(t * 1000000.0, 12, 4) + F(v[1], 10, 2) + F(v[2], 10, 2) +
                       F(v[3], 10, 2) + I(PARTICLE_STORAGE::ions.count, 10) +
                       I(PARTICLE_STORAGE::electrons.count, 10) + F(current_cpu - start_cpu, 12, 4);
    write_line(log, line);
    output_streams::flush_or_stop(log, LOG_FILE);  // a killed run keeps whole lines
}

void pause_until_interrupted(std::istream& in) {
    std::string line;
    do {
        std::printf("%s\n", fortran::FreeLine().item("Press Ctr-C to terminate...").str().c_str());
        std::fflush(stdout);
    } while (std::getline(in, line));
}

void write_run_summary(const std::string& exit_reason) {
    progress::write_summary(exit_reason, {processor_time(), t11, t22, t33});
}

int run_simulation(const run_options::Options& command_line) {
    const run_options::Options options = model_for_this_run(command_line);
    // After the restart's model is known: a restart takes the plasma field from its file.
    if (options.fluid_electrons && !options.plasma_field)
        pdp::fatal({"ERROR: --fluid-electrons needs the plasma field",
                    "       add --plasma-field (or use --whole-run)"});
    take_case_cell();
    // Tests of the binary's progress lines step a clock instead of reading one.
    if (const char* tick = std::getenv("PDPCELL_TEST_CLOCK_TICK")) progress::use_ticking_clock(std::atof(tick));
    progress::start(progress_plan(options));
    random_numbers::set_seed(options.seed1, options.seed2);
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    particle_merging::configure(options.max_ions, options.max_electrons, options.seed1, options.seed2);
    potential::set_thread_count(run_options::thread_count(options));
    potential::set_red_black(options.parallel);
    conducting_solve::set_thread_count(run_options::thread_count(options));
    floating_gap::set_thread_count(run_options::thread_count(options));
    floating_gap::set_red_black(options.parallel);
    parallel_mode::configure(options.parallel, run_options::thread_count(options), options.seed1, options.seed2);
    electron_mover::set_leapfrog(options.second_order_flights);
    if (options.drift_diffusion) drift_diffusion::set_up(drift_diffusion::STANDARD_LIMITS);

    geometry::build_geometry();
    std::printf("%s\n", fortran::FreeLine().item("h1,h2,h3=").item(mesh::dx).item(mesh::dy).item(mesh::dz).str().c_str());
    potential::setup_sor_coefficients();
    if (options.vuv) xe_kinetics::start(species::fill(), vuv_report::ROW_STEPS * TIME_STEP);
    if (options.fluid_electrons) {
        hybrid_electrons::Settings hybrid;
        if (options.max_ions > 0) hybrid.ion_records = options.max_ions;
        if (options.max_electrons > 0) hybrid.records_back = std::min(hybrid.records_back, options.max_electrons / 2);
        hybrid_electrons::start(hybrid);  // loads the built-in transport table
        electron_transport_tables::check_fill(species::fill().xenon_fraction);
        densities::add_after_records(fluid_coupling::add_to_mesh_densities);
    }
    seeding::seed_initial_particles();
    voltage_file::read_voltage_file();
    restart_flag = read_restart_flag();
    if (options.restart) restart_flag = 1;
    sustain_state::prepare_sustain_state(1);
    potential::setup_sor_coefficients();
    FILE_MANAGER::CLOSEFILE("input_file.txt");

    std::FILE* log = restart_flag == 1 ? nullptr : start_run_log();
    output_streams::flush_console_or_stop();

    start_cpu = processor_time();
    nstep = 1;
    t = 0.0;
    dt = 2e-10;
    last_slice_time = -2e-13;
    slice_interval = options.slice_every;
    runaway_check::start();
    const StopSignals stop_signals;

    do {
        int n = nstep - 1;
        if (nstep > 1 && n % options.checkpoint_every == 0) write_checkpoint(options);
        if (nstep == 1 && restart_flag == 1) {
            int mode = 1;
            checkpoint::checkpoint_restart(mode, t, nstep, dt);
            n = nstep - 1;
            if (options.max_steps > 0 && nstep > options.max_steps)
                pdp::fatal({"ERROR: --max-steps " + std::to_string(options.max_steps) + " lies before step " +
                                std::to_string(nstep) + ", where file restart resumes the run",
                            "       give a later step, or leave --max-steps out"});
            log = continue_run_log_and_slices();
            pulse_report::continue_after_restart(checkpoint::RESTART_FILE, nstep);
            if (options.vuv) vuv_report::continue_after_restart(nstep);
            if (options.vtk_every > 0) vtk_output::continue_collections(nstep);
            std::printf("Resumed from file restart at step %d, t = %.4f us\n", nstep, t * 1e6);
            if (options.max_steps != command_line.max_steps)
                std::printf("The run ends after step %d, the --max-steps it was started with (file %s)\n",
                            options.max_steps, run_end::END_FILE);
        }
        if (n % 200 == 0) seeding::seed_particles(t, nstep, options.seed_at_cathode);
        electrodes::update_electrode_voltages(t, dt);

        // Field phase; between solves the particles move in a frozen field.
        const double field_start = processor_time();
        if (n % slice_interval == 0) densities::accumulate_densities();
        const bool fluid_field = hybrid_electrons::fluid_active();
        const bool field_due =
            fluid_field || options.plasma_field
                ? plasma_field::field_due(n, FIELD_INTERVAL, hybrid_electrons::electron_charge_carried())
                : n % FIELD_INTERVAL == 0;
        if (field_due) {
            densities::accumulate_densities();
            if (fluid_field) {
                // The fluid's own charge and conductivities (the records' few
                // electrons, seeds of this step, wait for the fluid to take them).
                electron_fluid_field::solve_field(TIME_STEP, electron_fluid_field::Order::semi_implicit);
            } else {
                field::build_charge_source();
                if (options.plasma_field)
                    plasma_field::solve_potential(TIME_STEP, FIELD_INTERVAL);
                else
                    potential::solve_potential();
                field::compute_field();
            }
        }
        t11 += processor_time() - field_start;
        pulse_report::account_step(nstep, t, TIME_STEP, field_due);
        if (options.vuv) vuv_report::account_step(nstep, t, TIME_STEP);

        dt = TIME_STEP;

        diag_flag = n % 20 == 0;
        diagnostics::print_diagnostics(options.quiet);
        if (diag_flag || nstep == 1) write_log_line(log);

        const double ion_start = processor_time();
        ion_mover::advance_ions(t + dt);
        t22 += processor_time() - ion_start;

        const double electron_start = processor_time();
        electron_mover::advance_electrons(t + dt);
        hybrid_electrons::after_electron_pass(t, dt, static_cast<std::uint64_t>(nstep));
        t33 += processor_time() - electron_start;

        particle_merging::merge_crowded_stores();
        runaway_check::after_step(nstep, t + dt);

        if (t > last_slice_time && n % slice_interval == 0) {
            last_slice_time = t;
            slices::write_slices(nstep, t, slice_interval);
        }
        // The densities are current when the field phase accumulated them.
        if (options.vtk_every > 0)
            vtk_output::write_state_if_due(nstep, t, options.vtk_every,
                                           n % slice_interval == 0 || field_due);

        t = t + dt;
        nstep = nstep + 1;
        progress::after_step({nstep - 1, t, PARTICLE_STORAGE::ions.count, PARTICLE_STORAGE::electrons.count});
        if (stop_signal != 0) break;
        if (options.max_steps > 0 && nstep > options.max_steps) break;
        output_streams::flush_console_or_stop();
    } while (t <= END_TIME && nstep <= MAX_STEP);

    const int stopped_by = stop_signal;
    std::string reason = exit_reason(options);
    if (stopped_by != 0) {
        // The state between two steps, as the periodic checkpoint saves it.
        write_checkpoint(options);
        std::printf("Stopped by %s after step %d: checkpoint written; continue with --restart:\n    cd %s && %s\n",
                    signal_name(stopped_by), nstep - 1,
                    run_options::shell_word(std::filesystem::current_path().string()).c_str(),
                    run_options::continuing_command(command_line).c_str());
        reason = std::string("stopped by ") + signal_name(stopped_by) + " after step " + std::to_string(nstep - 1) +
                 "; checkpoint written, continue with --restart";
    }
    FILE_MANAGER::CLOSEALL();
    output_streams::flush_or_stop(log, LOG_FILE);  // the run log stays open until the program ends
    output_streams::flush_console_or_stop();
    write_run_summary(reason);
    return stopped_by != 0 ? INTERRUPTED_EXIT_STATUS : 0;
}

void reset_all() {
    nstep = 1;
    t = 0.0;
    dt = 2e-10;
    restart_flag = 0;
    slice_interval = 1000;
    last_slice_time = -2e-13;
    diag_flag = false;
    start_cpu = current_cpu = 0.0;
    t11 = t22 = t33 = 0.0;
    FILE_MANAGER::reset();
    mesh::reset();
    PARTICLE_STORAGE::reset();
    particle_merging::reset();
    parallel_mode::reset();
    random_numbers::reset();
    voltage_file::reset();
    electrodes::reset();
    potential::reset();
    plasma_field::reset();
    conducting_solve::reset();
    electron_mover::reset();
    drift_diffusion::reset();
    floating_gap::reset();
    sustain_state::reset();
    slices::reset();
    vtk_output::reset();
    progress::reset();
    runaway_check::reset();
    checkpoint::set_run_model({});
    pass_output::reset();
    electrode_response::reset();
    pulse_report::reset();
    vuv_report::reset();
    xe_kinetics::reset();
    hybrid_electrons::reset();
    densities::add_after_records(nullptr);
    species::reset();
    cell_file::reset();
    collision_frequencies::follow_fill();
}

}  // namespace driver
