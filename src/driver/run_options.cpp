#include "driver/run_options.hpp"

#include "common/chunked_work.hpp"
#include "particles/random_numbers.hpp"

#include <cerrno>
#include <cstdlib>

namespace run_options {

namespace {

// A whole number in [lo, hi], the whole text and nothing else.
bool parse_integer(const std::string& text, long long lo, long long hi, long long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long long n = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < lo || n > hi) return false;
    value = n;
    return true;
}

bool parse_seconds(const std::string& text, double& value) {
    if (text.empty()) return false;
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

}  // namespace

const char* usage_text() {
    return "Usage: pdpcell [options]\n"
           "Simulates one AC plasma display cell in the current folder, which must hold\n"
           "\"input_file.txt\" and \"Vdata.txt\".\n"
           "\n"
           "  --max-steps N          stop after step N, close the files and exit without\n"
           "                         the end-of-run pause\n"
           "  --max-ions N           merge ion records whenever more than N are live\n"
           "                         (N >= 1000); give it again on restart\n"
           "  --max-electrons N      the same for electron records\n"
           "  --seed S1 S2           the random generator's seeds (default 1100 550;\n"
           "                         1 <= S1 <= 2147483562, 1 <= S2 <= 2147483398)\n"
           "  --plasma-field         count the electrons' charge in the field and solve it\n"
           "                         semi-implicitly in their current, so that a dense\n"
           "                         discharge stays stable; give it again on restart\n"
           "  --seed-at-cathode      put the seed pair of every 200th step over whichever\n"
           "                         sustain electrode is the lower in voltage, so that the\n"
           "                         reversed pulses are primed as well\n"
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
           "  --version              print the version\n";
}

ParseResult parse(const std::vector<std::string>& args, Options& options) {
    const std::size_t count = args.size();
    // The value after option a, or a usage error that names what is missing.
    auto value_of = [&](std::size_t& a, std::string& value) {
        if (a + 1 >= count) return false;
        value = args[++a];
        return true;
    };
    for (std::size_t a = 0; a < count; ++a) {
        const std::string& arg = args[a];
        std::string value;
        long long n = 0;
        if (arg == "--help" || arg == "-h") return ParseResult{ParseResult::Action::help, ""};
        if (arg == "--version") return ParseResult{ParseResult::Action::version, ""};
        if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--parallel") {
            options.parallel = true;
        } else if (arg == "--plasma-field") {
            options.plasma_field = true;
        } else if (arg == "--seed-at-cathode") {
            options.seed_at_cathode = true;
        } else if (arg == "--threads") {
            if (!value_of(a, value)) return usage_error("--threads needs a value");
            if (!parse_integer(value, 1, MAX_THREADS, n))
                return usage_error("--threads needs a whole number from 1 to 1024");
            options.threads = static_cast<int>(n);
        } else if (arg == "--max-steps") {
            if (!value_of(a, value)) return usage_error("--max-steps needs a value");
            if (!parse_integer(value, 1, 1000000000, n))
                return usage_error("--max-steps needs a whole number of at least 1");
            options.max_steps = static_cast<int>(n);
        } else if (arg == "--max-ions" || arg == "--max-electrons") {
            if (!value_of(a, value)) return usage_error(arg + " needs a value");
            if (!parse_integer(value, MIN_CAP, 100000000, n))
                return usage_error(arg + " needs a whole number from 1000 to 100000000");
            (arg == "--max-ions" ? options.max_ions : options.max_electrons) = static_cast<int>(n);
        } else if (arg == "--seed") {
            std::string second;
            if (!value_of(a, value) || !value_of(a, second)) return usage_error("--seed needs two values");
            long long s1 = 0, s2 = 0;
            if (!parse_integer(value, 1, random_numbers::S1_LIMIT, s1) ||
                !parse_integer(second, 1, random_numbers::S2_LIMIT, s2))
                return usage_error("--seed needs 1 <= S1 <= 2147483562 and 1 <= S2 <= 2147483398");
            options.seed1 = static_cast<std::int32_t>(s1);
            options.seed2 = static_cast<std::int32_t>(s2);
        } else if (arg == "--vtk-every") {
            if (!value_of(a, value)) return usage_error("--vtk-every needs a value");
            if (!parse_integer(value, 1, 1000000000, n))
                return usage_error("--vtk-every needs a whole number of at least 1");
            options.vtk_every = static_cast<int>(n);
        } else if (arg == "--progress-every") {
            if (!value_of(a, value)) return usage_error("--progress-every needs a value");
            if (!parse_seconds(value, options.progress_every))
                return usage_error("--progress-every needs a number of seconds, 0 or more");
        } else {
            return usage_error("unknown option '" + arg + "'");
        }
    }
    return ParseResult{};
}

int thread_count(const Options& options) {
    return options.threads > 0 ? options.threads : chunked_work::default_thread_count();
}

}  // namespace run_options
