#include "driver/main_program.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/list_reader.hpp"
#include "driver/checkpoint.hpp"
#include "driver/particle_seeding.hpp"
#include "electrons/electron_mover.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "input/voltage_file.hpp"
#include "ions/floating_gap_solver.hpp"
#include "ions/ion_mover.hpp"
#include "ions/sustain_state.hpp"
#include "mesh/charge_and_field.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"
#include "output/density_accumulation.hpp"
#include "output/diagnostics.hpp"
#include "output/slices.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include <ctime>
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
    std::fflush(log);  // a killed run keeps whole lines
}

void pause_until_interrupted(std::istream& in) {
    std::string line;
    do {
        std::printf("%s\n", fortran::FreeLine().item("Press Ctr-C to terminate...").str().c_str());
        std::fflush(stdout);
    } while (std::getline(in, line));
}

void run_simulation(const run_options::Options& options) {
    random_numbers::set_seed(options.seed1, options.seed2);
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);

    geometry::build_geometry();
    std::printf("%s\n", fortran::FreeLine().item("h1,h2,h3=").item(mesh::dx).item(mesh::dy).item(mesh::dz).str().c_str());
    potential::setup_sor_coefficients();
    seeding::seed_initial_particles();
    voltage_file::read_voltage_file();
    restart_flag = read_restart_flag();
    sustain_state::prepare_sustain_state(1);
    potential::setup_sor_coefficients();
    FILE_MANAGER::CLOSEFILE("input_file.txt");

    std::FILE* log = std::fopen("general.txt", "w");
    if (log == nullptr) pdp::fatal("ERROR: Can't open file: general.txt");
    fortran::write_line(log, LOG_HEADER);
    std::fflush(log);
    std::fflush(stdout);

    start_cpu = processor_time();
    nstep = 1;
    t = 0.0;
    dt = 2e-10;
    last_slice_time = -2e-13;
    slice_interval = 1000;

    do {
        int n = nstep - 1;
        if (nstep > 1 && n % 10000 == 0) checkpoint::checkpoint_restart(0, t, nstep, dt);
        if (nstep == 1 && restart_flag == 1) {
            int mode = 1;
            checkpoint::checkpoint_restart(mode, t, nstep, dt);
            n = nstep - 1;
        }
        if (n % 200 == 0) seeding::seed_particles(t);
        electrodes::update_electrode_voltages(t, dt);

        // Field phase; between solves the particles move in a frozen field.
        const double field_start = processor_time();
        if (n % slice_interval == 0) densities::accumulate_densities();
        if (n % 100 == 0) {
            densities::accumulate_densities();
            field::build_charge_source();
            potential::solve_potential();
            field::compute_field();
        }
        t11 += processor_time() - field_start;

        dt = TIME_STEP;

        diag_flag = n % 20 == 0;
        diagnostics::print_diagnostics();
        if (diag_flag || nstep == 1) write_log_line(log);

        const double ion_start = processor_time();
        ion_mover::advance_ions(t + dt);
        t22 += processor_time() - ion_start;

        const double electron_start = processor_time();
        electron_mover::advance_electrons(t + dt);
        t33 += processor_time() - electron_start;

        if (t > last_slice_time && n % slice_interval == 0) {
            last_slice_time = t;
            slices::write_slices(nstep, t, slice_interval);
        }

        t = t + dt;
        nstep = nstep + 1;
        if (options.max_steps > 0 && nstep > options.max_steps) break;
        std::fflush(stdout);
    } while (t <= END_TIME && nstep <= MAX_STEP);

    FILE_MANAGER::CLOSEALL();
    std::fflush(log);  // the run log stays open until the program ends
    std::fflush(stdout);
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
    random_numbers::reset();
    voltage_file::reset();
    electrodes::reset();
    potential::reset();
    electron_mover::reset();
    floating_gap::reset();
    sustain_state::reset();
    slices::reset();
}

}  // namespace driver
