#include "driver/run_options.hpp"

#include "common/chunked_work.hpp"
#include "particles/random_numbers.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace run_options {

namespace {

// A whole number in [lo, hi]: decimal digits and nothing else (no blank, sign
// or base prefix, which strtoll would quietly take).
bool parse_integer(const std::string& text, long long lo, long long hi, long long& value) {
    if (text.empty() || text.size() > 18) return false;
    long long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = 10 * n + (c - '0');
    }
    if (n < lo || n > hi) return false;
    value = n;
    return true;
}

// Seconds as a plain decimal number: digits, an optional fraction and an
// optional exponent (no sign, blank, hexadecimal, infinity or NaN).
bool plain_decimal(const std::string& text) {
    std::size_t i = 0, digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        const std::size_t first = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        if (i == first) return false;
    }
    return i == text.size();
}

bool parse_seconds(const std::string& text, double& value) {
    if (!plain_decimal(text)) return false;
    char* end = nullptr;
    errno = 0;
    const double s = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(s >= 0.0) || s > 1e9) return false;
    value = s;
    return true;
}

ParseResult usage_error(const std::string& message) {
    return ParseResult{ParseResult::Action::usage_error, message};
}

const char* const KNOWN_OPTIONS[] = {
    "--max-steps", "--max-ions", "--max-electrons", "--seed", "--plasma-field", "--seed-at-cathode",
    "--vtk-every", "--quiet", "--progress-every", "--threads", "--parallel", "--checkpoint-every",
    "--slice-every", "--restart", "--whole-run", "--second-order-flights", "--drift-diffusion", "--fluid-electrons", "--vuv", "--help", "--version"};

// Edits (insertions, deletions, substitutions) that turn a into b.
std::size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "unknown option 'X'", with the known option nearest to it when one is near.
std::string unknown_option(const std::string& arg) {
    std::string nearest;
    std::size_t best = 4;  // farther than three edits is no typing slip
    for (const char* known : KNOWN_OPTIONS) {
        const std::size_t d = edit_distance(arg, known);
        if (d < best) {
            best = d;
            nearest = known;
        }
    }
    std::string message = "unknown option '" + arg + "'";
    if (!nearest.empty()) message += "; did you mean " + nearest + "?";
    return message;
}

}  // namespace

bool was_given(const Options& options, const std::string& name) {
    return std::find(options.given.begin(), options.given.end(), name) != options.given.end();
}

const char* usage_text() {
    return "Usage: pdpcell [options]\n"
           "Simulates one AC plasma display cell in the current folder, which must hold\n"
           "\"input_file.txt\" and \"Vdata.txt\".\n"
           "\n"
           "  --max-steps N          stop after step N, close the files and exit without\n"
           "                         the end-of-run pause\n"
           "  --max-ions N           merge ion records whenever more than N are live\n"
           "                         (N >= 1000)\n"
           "  --max-electrons N      the same for electron records\n"
           "  --seed S1 S2           the random generator's seeds (default 1100 550;\n"
           "                         1 <= S1 <= 2147483562, 1 <= S2 <= 2147483398)\n"
           "  --plasma-field         count the electrons' charge in the field and solve it\n"
           "                         semi-implicitly in their current, so that a dense\n"
           "                         discharge stays stable\n"
           "  --seed-at-cathode      put the seed pair of every 200th step over whichever\n"
           "                         sustain electrode is the lower in voltage, so that the\n"
           "                         reversed pulses are primed as well\n"
           "  --whole-run            the model for whole runs of many sustain pulses: the\n"
           "                         same as --parallel --plasma-field --seed-at-cathode\n"
           "                         --second-order-flights --max-ions 50000\n"
           "                         --max-electrons 20000\n"
           "  --second-order-flights move electrons in leapfrog sub-steps, 8 per cell\n"
           "                         instead of 20 first-order ones\n"
           "  --drift-diffusion      move thermal electrons (below 7.3 eV, in fields below\n"
           "                         10 Td, away from the walls) by one drift-diffusion\n"
           "                         step a time step instead of their free flights\n"
           "                         (an expert option: no faster in a discharge yet)\n"
           "  --fluid-electrons      the electrons of a dense plasma as a fluid, records\n"
           "                         while they are few (an expert option, with\n"
           "                         --plasma-field; in development: not yet faithful)\n"
           "  --vuv                  keep xenon's excited states and excimers on the mesh\n"
           "                         and write the VUV light they give: vuv.csv (every\n"
           "                         1 ns) and vuv_pulses.csv (per pulse)\n"
           "  --restart              continue the run saved in the file restart, whatever\n"
           "                         the restart flag of input_file.txt says; the options\n"
           "                         above that decide the results come from the file\n"
           "  --checkpoint-every N   write the checkpoint restart every N steps (10000)\n"
           "  --slice-every N        write the slice files every N steps (1000)\n"
           "  --vtk-every N          write the 3D state for ParaView into vtk/ every N steps\n"
           "  --quiet                leave out the diagnostics block every 20 steps\n"
           "  --progress-every SEC   seconds between progress lines on standard error when\n"
           "                         it is not a terminal (default 60; 0: none)\n"
           "  --threads N            threads for the work that may be shared (default: the\n"
           "                         machine's cores); without --parallel the output files\n"
           "                         are the same for every N\n"
           "  --parallel             give every particle its own random stream, so that the\n"
           "                         particle passes use all threads; the files are the same\n"
           "                         for every --threads, but differ from a run without it\n"
           "  --help                 print this text\n"
           "  --version              print the version\n"
           "\n"
           "Options take their value as --name VALUE or --name=VALUE, each at most once.\n"
           "Options in the file run_options.txt of the folder come first.\n"
           "On SIGTERM or SIGINT the run finishes its step, writes a checkpoint and exits\n"
           "with status 3; --restart continues it.\n";
}

ParseResult parse(const std::vector<std::string>& args, Options& options) {
    const std::size_t count = args.size();
    for (std::size_t a = 0; a < count; ++a) {
        // "--name=value" reads as "--name value".
        std::string arg = args[a];
        std::string attached;
        bool has_attached = false;
        const std::size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            attached = arg.substr(equals + 1);
            arg.resize(equals);
            has_attached = true;
        }
        // The next value of this option: the attached one first, then the
        // following arguments.
        auto value_of = [&](std::string& value) {
            if (has_attached) {
                value = attached;
                has_attached = false;
                return true;
            }
            if (a + 1 >= count) return false;
            value = args[++a];
            return true;
        };
        if (arg == "--help" || arg == "-h") return ParseResult{ParseResult::Action::help, ""};
        if (arg == "--version") return ParseResult{ParseResult::Action::version, ""};
        const bool known = std::find(std::begin(KNOWN_OPTIONS), std::end(KNOWN_OPTIONS), arg) != std::end(KNOWN_OPTIONS);
        if (!known) return usage_error(unknown_option(arg));
        // The last of two would silently win, and a script that adds an
        // option to a command line that already has it means one of them.
        if (was_given(options, arg)) {
            const auto first = std::find(options.given.begin(), options.given.end(), arg) - options.given.begin();
            if (first < options.given_in_file)
                return usage_error(arg + " is given in " + OPTIONS_FILE + " and on the command line");
            return usage_error(arg + " is given twice");
        }
        options.given.push_back(arg);

        std::string value;
        long long n = 0;
        if (arg == "--quiet" || arg == "--parallel" || arg == "--plasma-field" || arg == "--seed-at-cathode" ||
            arg == "--restart" || arg == "--whole-run" || arg == "--second-order-flights" ||
            arg == "--drift-diffusion" || arg == "--fluid-electrons" || arg == "--vuv") {
            if (has_attached) return usage_error(arg + " takes no value");
            if (arg == "--quiet") options.quiet = true;
            if (arg == "--parallel") options.parallel = true;
            if (arg == "--plasma-field") options.plasma_field = true;
            if (arg == "--seed-at-cathode") options.seed_at_cathode = true;
            if (arg == "--restart") options.restart = true;
            if (arg == "--whole-run") options.whole_run = true;
            if (arg == "--second-order-flights") options.second_order_flights = true;
            if (arg == "--drift-diffusion") options.drift_diffusion = true;
            if (arg == "--fluid-electrons") options.fluid_electrons = true;
            if (arg == "--vuv") options.vuv = true;
        } else if (arg == "--threads") {
            if (!value_of(value)) return usage_error("--threads needs a value");
            if (!parse_integer(value, 1, MAX_THREADS, n))
                return usage_error("--threads needs a whole number from 1 to 1024");
            options.threads = static_cast<int>(n);
        } else if (arg == "--max-ions" || arg == "--max-electrons") {
            if (!value_of(value)) return usage_error(arg + " needs a value");
            if (!parse_integer(value, MIN_CAP, 100000000, n))
                return usage_error(arg + " needs a whole number from 1000 to 100000000");
            (arg == "--max-ions" ? options.max_ions : options.max_electrons) = static_cast<int>(n);
        } else if (arg == "--seed") {
            std::string second;
            if (!value_of(value) || !value_of(second)) return usage_error("--seed needs two values");
            long long s1 = 0, s2 = 0;
            if (!parse_integer(value, 1, random_numbers::S1_LIMIT, s1) ||
                !parse_integer(second, 1, random_numbers::S2_LIMIT, s2))
                return usage_error("--seed needs 1 <= S1 <= 2147483562 and 1 <= S2 <= 2147483398");
            options.seed1 = static_cast<std::int32_t>(s1);
            options.seed2 = static_cast<std::int32_t>(s2);
        } else if (arg == "--progress-every") {
            if (!value_of(value)) return usage_error("--progress-every needs a value");
            if (!parse_seconds(value, options.progress_every))
                return usage_error("--progress-every needs a number of seconds, 0 or more");
        } else {
            // The step counts: --max-steps, --vtk-every, --checkpoint-every, --slice-every.
            if (!value_of(value)) return usage_error(arg + " needs a value");
            if (!parse_integer(value, 1, 1000000000, n))
                return usage_error(arg + " needs a whole number of at least 1");
            if (arg == "--max-steps") options.max_steps = static_cast<int>(n);
            if (arg == "--vtk-every") options.vtk_every = static_cast<int>(n);
            if (arg == "--checkpoint-every") options.checkpoint_every = static_cast<int>(n);
            if (arg == "--slice-every") options.slice_every = static_cast<int>(n);
        }
        if (has_attached) return usage_error(arg + " takes one value");
    }
    return ParseResult{};
}

ParseResult read_options_file(Options& options) {
    std::ifstream file(OPTIONS_FILE);
    if (!file) return ParseResult{};
    std::vector<std::string> args;
    for (std::string line; std::getline(file, line);) {
        const std::size_t comment = line.find('#');
        if (comment != std::string::npos) line.resize(comment);
        std::istringstream words(line);
        for (std::string word; words >> word;) args.push_back(word);
    }
    for (const std::string& arg : args)
        if (arg == "--help" || arg == "-h" || arg == "--version")
            return usage_error(std::string(OPTIONS_FILE) + ": " + arg + " belongs on the command line");
    ParseResult result = parse(args, options);
    options.given_in_file = static_cast<int>(options.given.size());
    if (result.action == ParseResult::Action::usage_error)
        result.message = std::string(OPTIONS_FILE) + ": " + result.message;
    return result;
}

void apply_whole_run(Options& options) {
    if (!options.whole_run) return;
    options.parallel = options.plasma_field = options.seed_at_cathode = options.second_order_flights = true;
    if (!was_given(options, "--max-ions")) options.max_ions = WHOLE_RUN_MAX_IONS;
    if (!was_given(options, "--max-electrons")) options.max_electrons = WHOLE_RUN_MAX_ELECTRONS;
}

std::string shell_word(const std::string& word) {
    const std::string plain = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-";
    if (!word.empty() && word.find_first_not_of(plain) == std::string::npos) return word;
    std::string quoted = "'";
    for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string continuing_command(const Options& options) {
    std::string command = options.typed.empty() ? std::string("pdpcell") : shell_word(options.typed[0]);
    for (std::size_t a = 1; a < options.typed.size(); ++a)
        if (options.typed[a] != "--restart") command += " " + shell_word(options.typed[a]);
    // run_options.txt may give --restart itself, and may not be contradicted.
    const auto file_end = options.given.begin() + options.given_in_file;
    if (std::find(options.given.begin(), file_end, "--restart") != file_end) return command;
    return command + " --restart";
}

int thread_count(const Options& options) {
    return options.threads > 0 ? options.threads : chunked_work::default_thread_count();
}

}  // namespace run_options
