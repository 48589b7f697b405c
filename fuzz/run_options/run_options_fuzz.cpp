// The command line: arguments are the input split at NUL bytes. A parse that
// says "run" must leave every option within its documented range.
#include "../fuzz_support.hpp"

#include "driver/run_options.hpp"
#include "particles/random_numbers.hpp"

#include <cmath>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) args.emplace_back();
        else args.back() += static_cast<char>(data[i]);
    }
    if (size == 0) args.clear();
    run_options::Options o;
    const run_options::ParseResult r = run_options::parse(args, o);
    using Action = run_options::ParseResult::Action;
    if (r.action == Action::usage_error && r.message.empty()) fuzz_support::finding("usage error without a message");
    if (r.action != Action::run) return 0;
    if (o.max_steps < 0 || o.vtk_every < 0) fuzz_support::finding("negative step count accepted");
    if (o.checkpoint_every < 1 || o.slice_every < 1) fuzz_support::finding("schedule of no steps accepted");
    for (std::size_t a = 0; a < o.given.size(); ++a)
        for (std::size_t b = a + 1; b < o.given.size(); ++b)
            if (o.given[a] == o.given[b]) fuzz_support::finding("an option given twice accepted");
    if ((o.max_ions != 0 && o.max_ions < run_options::MIN_CAP) ||
        (o.max_electrons != 0 && o.max_electrons < run_options::MIN_CAP))
        fuzz_support::finding("store cap below the smallest accepted");
    if (o.seed1 < 1 || o.seed1 > random_numbers::S1_LIMIT || o.seed2 < 1 || o.seed2 > random_numbers::S2_LIMIT)
        fuzz_support::finding("seed outside the generator's range accepted");
    if (!std::isfinite(o.progress_every) || o.progress_every < 0.0) fuzz_support::finding("bad progress interval accepted");
    return 0;
}
