// The swarm tool with a case's cell file: transport depends on E/N alone, so
// a fill of twice the density gives the same drift velocity at the same E/N.
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

namespace {

struct Drift {
    double mean = 0, error = 0;  // cm/s
};

Drift flux_drift(const std::string& output) {
    Drift d;
    const std::size_t at = output.find("drift velocity (flux)");
    if (at != std::string::npos) std::sscanf(output.c_str() + at, "drift velocity (flux) %lf +- %lf", &d.mean, &d.error);
    return d;
}

}  // namespace

TEST(SwarmTool, TwiceTheDensityGivesTheSameDriftVelocityAtTheSameReducedField) {
    TempFolder folder;
    TempFolder::write("twice.toml", "[fill]\ndensity_cm3 = 2.286912434210526e19\n");
    const std::string swarm = std::string(PDPCELL_SWARM_BINARY) + " 100 --electrons 300 ";
    const RunResult built_in = run_command(swarm + "--relax 1 --sample 2 2>&1");
    // Half the time at twice the density: the same number of collisions.
    const RunResult twice = run_command(swarm + "--relax 0.5 --sample 1 --interval 0.001 --cell twice.toml 2>&1");
    ASSERT_EQ(built_in.status, 0) << built_in.output;
    ASSERT_EQ(twice.status, 0) << twice.output;
    EXPECT_NE(twice.output.find("N = 2.286912e+19 cm^-3, E/N = 100 Td, E = 2.286912e+04 V/cm"), std::string::npos)
        << twice.output;
    const Drift a = flux_drift(built_in.output), b = flux_drift(twice.output);
    ASSERT_GT(a.mean, 1e7) << built_in.output;
    EXPECT_LT(std::fabs(a.mean - b.mean), 4 * std::hypot(a.error, b.error) + 1e-3 * a.mean) << twice.output;

    // A refused cell file stops the tool with its message.
    TempFolder::write("bad.toml", "[fill]\nxenon_fraction = 2\n");
    const RunResult bad = run_command(swarm + "--cell bad.toml 2>&1");
    EXPECT_NE(bad.status, 0);
    EXPECT_NE(bad.output.find("ERROR: bad.toml line 2: fill.xenon_fraction = 2 is outside 0 to 1"), std::string::npos)
        << bad.output;
}
