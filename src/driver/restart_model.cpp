#include "driver/restart_model.hpp"

#include "common/fatal_error.hpp"
#include "driver/run_end.hpp"

#include <fstream>
#include <string>

namespace restart_model {

namespace {

[[noreturn]] void contradiction(const std::string& given, const std::string& saved) {
    pdp::fatal({"ERROR: the command line has " + given + ", but file restart was written by a run with " + saved,
                "       leave the option out to continue that run, or start a new run (restart flag 0)"});
}

std::string flag_text(const char* name, bool on) { return on ? name : std::string("no ") + name; }

}  // namespace

checkpoint::RunModel model_of(const run_options::Options& o) {
    checkpoint::RunModel m;
    m.parallel = o.parallel;
    m.plasma_field = o.plasma_field;
    m.seed_at_cathode = o.seed_at_cathode;
    m.second_order_flights = o.second_order_flights;
    m.drift_diffusion = o.drift_diffusion;
    m.vuv = o.vuv;
    m.fluid_electrons = o.fluid_electrons;
    m.max_ions = o.max_ions;
    m.max_electrons = o.max_electrons;
    m.seed1 = o.seed1;
    m.seed2 = o.seed2;
    return m;
}

bool restart_requested(const run_options::Options& options) {
    if (options.restart) return true;
    std::ifstream input("input_file.txt");
    std::string line;
    for (int n = 1; n <= 49; ++n)
        if (!std::getline(input, line)) return false;
    const std::size_t first = line.find_first_not_of(" \t");
    return first != std::string::npos && line[first] == '1' &&
           (first + 1 == line.size() || line.find_first_of(" \t,\r", first + 1) == first + 1);
}

void take_saved_model(run_options::Options& options, const checkpoint::SavedRun& saved) {
    using run_options::was_given;
    if (!saved.readable) return;
    if (options.max_steps > 0 && options.max_steps < saved.nstep)
        pdp::fatal({"ERROR: --max-steps " + std::to_string(options.max_steps) +
                        " lies before step " + std::to_string(saved.nstep) + ", where file restart resumes the run",
                    "       give a later step, or leave --max-steps out"});
    // A file without a model is a default run's (or an older version's,
    // which recorded none), so its model is the default one.
    const checkpoint::RunModel& m = saved.model;
    struct Flag {
        const char* name;
        bool& value;
        bool saved;
    };
    for (const Flag& f : {Flag{"--parallel", options.parallel, m.parallel},
                          Flag{"--plasma-field", options.plasma_field, m.plasma_field},
                          Flag{"--seed-at-cathode", options.seed_at_cathode, m.seed_at_cathode},
                          Flag{"--second-order-flights", options.second_order_flights, m.second_order_flights},
                          Flag{"--drift-diffusion", options.drift_diffusion, m.drift_diffusion},
                          Flag{"--vuv", options.vuv, m.vuv},
                          Flag{"--fluid-electrons", options.fluid_electrons, m.fluid_electrons}}) {
        if (was_given(options, f.name) && f.value != f.saved) contradiction(f.name, flag_text(f.name, f.saved));
        f.value = f.saved;
    }
    struct Cap {
        const char* name;
        int& value;
        int saved;
    };
    for (const Cap& c : {Cap{"--max-ions", options.max_ions, m.max_ions},
                         Cap{"--max-electrons", options.max_electrons, m.max_electrons}}) {
        const std::string saved_text = c.saved > 0 ? std::string(c.name) + " " + std::to_string(c.saved)
                                                   : std::string("no ") + c.name;
        if (was_given(options, c.name) && c.value != c.saved)
            contradiction(std::string(c.name) + " " + std::to_string(c.value), saved_text);
        c.value = c.saved;
    }
    // Files without a model line do not record the seeds.
    if (saved.has_model) {
        if (was_given(options, "--seed") && (options.seed1 != m.seed1 || options.seed2 != m.seed2))
            contradiction("--seed " + std::to_string(options.seed1) + " " + std::to_string(options.seed2),
                          "--seed " + std::to_string(m.seed1) + " " + std::to_string(m.seed2));
        options.seed1 = m.seed1;
        options.seed2 = m.seed2;
    }
}

void take_saved_end(run_options::Options& options, const checkpoint::SavedRun& saved) {
    if (!saved.readable || run_options::was_given(options, "--max-steps")) return;
    const int last = run_end::saved_last_step(saved.nstep);
    if (last <= 0) return;
    // A run stopped after its last step saves the step after it.
    if (last < saved.nstep)
        pdp::fatal({"ERROR: the run saved in file restart has reached its end, step " + std::to_string(last) +
                        " (its --max-steps)",
                    "       give a later --max-steps to go on from step " + std::to_string(saved.nstep)});
    options.max_steps = last;
}

}  // namespace restart_model
