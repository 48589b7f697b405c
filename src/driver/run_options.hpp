#pragma once
// The command line, parsed once into one plain struct that the run reads.
// Every option is opt-in: with none, the run is exactly the specified program.
#include <cstdint>
#include <string>
#include <vector>

namespace run_options {

struct Options {
    int max_steps = 0;         // > 0: stop after this step, without the end-of-run pause
    int max_ions = 0;          // > 0: merge ion records above this many
    int max_electrons = 0;     // > 0: merge electron records above this many
    std::int32_t seed1 = 1100; // the generator's two seeds
    std::int32_t seed2 = 550;
    int vtk_every = 0;         // > 0: write the 3D state every this many steps
    bool quiet = false;        // omit the periodic diagnostics blocks on the console
    double progress_every = 60.0;  // s between plain progress lines when stderr is no terminal; 0: none
    int threads = 0;           // threads for the parts that may share work; 0: the machine's cores
    bool parallel = false;     // per-particle random streams, so the particle passes can be shared
    bool plasma_field = false; // electrons in the field's source, semi-implicit in their current
    bool seed_at_cathode = false;  // periodic seed pairs over whichever sustain electrode is the cathode
    bool second_order_flights = false;  // leapfrog sub-steps in the electron flights, fewer per cell
    bool drift_diffusion = false;  // thermal electrons by drift-diffusion steps
    bool fluid_electrons = false;  // the dense plasma's electrons as a fluid (hybrid)
    bool vuv = false;              // Xe excited states, excimers and their VUV light
    int checkpoint_every = 10000;  // steps between checkpoints
    int slice_every = 1000;        // steps between slice writes
    bool restart = false;          // continue from "restart" whatever the input file's restart flag says
    bool whole_run = false;        // the model for whole runs of many pulses: see apply_whole_run
    std::vector<std::string> given;  // the options given, as "--name", those of OPTIONS_FILE first
    int given_in_file = 0;           // how many of them OPTIONS_FILE gave
    std::vector<std::string> typed;  // the command line as typed, program first
};

// A case folder may carry the options it is meant to be run with, as they
// would be typed, one or more a line, "#" starting a comment. They come
// before the command line's, which may not give any of them again.
inline constexpr const char* OPTIONS_FILE = "run_options.txt";

// The whole-run model's caps on the stores, chosen for the built-in cell: a
// dense discharge of its first microsecond stays below them without a
// runaway, with records of a few thousand particles at the peak.
constexpr int WHOLE_RUN_MAX_IONS = 50000;
constexpr int WHOLE_RUN_MAX_ELECTRONS = 20000;

// What the parse asks of main: run, or leave at once with an exit status.
struct ParseResult {
    enum class Action { run, help, version, usage_error } action = Action::run;
    std::string message;  // for usage_error: what was wrong, one line
};

constexpr int MIN_CAP = 1000;  // smallest store cap that merging accepts
constexpr int MAX_THREADS = 1024;

// The threads a run uses: --threads if given, else the machine's cores.
int thread_count(const Options& options);

// Whether "--name" was on the command line.
bool was_given(const Options& options, const std::string& name);

// Parses argv[1..]; fills options as it goes. "--name value" and
// "--name=value" are the same; an option given twice is an error. Call
// read_options_file first, if at all, then parse, then apply_whole_run.
ParseResult parse(const std::vector<std::string>& args, Options& options);

// Parses the options of OPTIONS_FILE in the working folder, if there is one;
// errors name the file.
ParseResult read_options_file(Options& options);

// --whole-run: the parallel mode, the plasma field, seeding at the cathode,
// leapfrog flights and the whole-run caps (unless --max-ions or
// --max-electrons set others).
void apply_whole_run(Options& options);

// The command that continues a stopped run from its checkpoint: the command
// line as typed, with --restart. Words the shell would split or expand are
// quoted.
std::string continuing_command(const Options& options);

// A word as the shell reads it back unchanged.
std::string shell_word(const std::string& word);

// The usage text, ending in a newline.
const char* usage_text();

}  // namespace run_options
