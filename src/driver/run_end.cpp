#include "driver/run_end.hpp"

#include "common/fatal_error.hpp"
#include "common/output_streams.hpp"

#include <cstdio>
#include <string>

namespace run_end {

void save(int nstep, int last_step) {
    const std::string temporary = std::string(END_FILE) + ".tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "w");
    if (out == nullptr) pdp::fatal("ERROR: Can't open file: " + temporary);
    std::fprintf(out, "checkpoint_step %d\nlast_step %d\n", nstep, last_step);
    output_streams::close_or_stop(out, temporary);
    if (std::rename(temporary.c_str(), END_FILE) != 0)
        pdp::fatal("ERROR: writing file " + std::string(END_FILE) + " failed: can't rename " + temporary);
}

int saved_last_step(int nstep) {
    std::FILE* in = std::fopen(END_FILE, "r");
    if (in == nullptr) return -1;
    int step = 0, last = -1;
    const bool read = std::fscanf(in, "checkpoint_step %d last_step %d", &step, &last) == 2;
    std::fclose(in);
    return read && step == nstep && last >= 0 ? last : -1;
}

}  // namespace run_end
