// The fluid's tables: what the lookup between rows must give, the refusals,
// and the text form for another fill.
#include "electrons/electron_transport_tables.hpp"
#include "common/fatal_error.hpp"
#include "particles/species.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace ett = electron_transport_tables;

namespace {

bool between(double x, double a, double b) {
    const double slack = 1e-12 * std::max(std::fabs(a), std::fabs(b));
    return x >= std::min(a, b) - slack && x <= std::max(a, b) + slack;
}

}  // namespace

// Inside every segment of the built-in table each coefficient lies between
// the two rows that bound it, and at a row it is that row's; the table
// covers the fields the cell sees; the loss is the power the field gives.
// The lookup of the loss and births alone has the same bits.
TEST(ElectronTransportTables, LookupStaysBetweenTheRowsThatBoundIt) {
    ett::use_built_in();
    ASSERT_GE(ett::row_count(), 30);
    EXPECT_LE(ett::row(0).reduced_field, 3.0);
    EXPECT_GE(ett::row(ett::row_count() - 1).reduced_field, 900.0);
    for (int r = 1; r < ett::row_count(); ++r) {
        const ett::Row &a = ett::row(r - 1), &b = ett::row(r);
        for (double f : {0.0, 0.3, 0.7}) {
            const ett::Coefficients c = ett::at(a.mean_energy + f * (b.mean_energy - a.mean_energy));
            EXPECT_TRUE(between(c.mobility_n, a.c.mobility_n, b.c.mobility_n)) << r;
            EXPECT_TRUE(between(c.diffusion_n, a.c.diffusion_n, b.c.diffusion_n)) << r;
            EXPECT_TRUE(between(c.loss_n, a.c.loss_n, b.c.loss_n)) << r;
            EXPECT_TRUE(between(c.rate[8], a.c.rate[8], b.c.rate[8])) << r;
            EXPECT_TRUE(between(c.rate[2], a.c.rate[2], b.c.rate[2])) << r;
            EXPECT_TRUE(between(ett::transport_at(a.mean_energy + f * (b.mean_energy - a.mean_energy)).energy_mobility_n,
                                a.c.energy_mobility_n, b.c.energy_mobility_n))
                << r;
        }
        EXPECT_NEAR(ett::at(b.mean_energy).rate[8], b.c.rate[8], 1e-9 * b.c.rate[8]);
        // The energy solve's lookup of the loss and births alone has the full one's bits.
        for (double e : {0.0, 0.6 * a.mean_energy, 0.5 * (a.mean_energy + b.mean_energy), 1.7 * b.mean_energy}) {
            EXPECT_EQ(ett::source_at(e).loss_n, ett::at(e).loss_n) << e;
            EXPECT_EQ(ett::source_at(e).births_n, ett::at(e).births_n) << e;
            for (int p = 0; p < ett::PROCESS_COUNT; ++p) EXPECT_EQ(ett::rate_at(e, p), ett::at(e).rate[p]) << e;
        }
        const double slope = ett::loss_slope_n(0.5 * (a.mean_energy + b.mean_energy));
        EXPECT_NEAR(slope * (b.mean_energy - a.mean_energy), b.c.loss_n - a.c.loss_n, 1e-9 * b.c.loss_n);
        // The steady swarm gains from the field what it loses: mu·N·(E/N)^2 = loss + births·energy.
        const double power = b.c.mobility_n * b.reduced_field * b.reduced_field * 1e-34;
        EXPECT_NEAR(power, b.c.loss_n + b.c.births_n * b.mean_energy, 1e-3 * power) << r;
    }
}

// Another fill needs its own table; a table read as text gives back its
// rows; a malformed or unordered table is refused with the line to fix.
TEST(ElectronTransportTables, TextTablesAndRefusals) {
    ett::use_built_in();
    EXPECT_NO_THROW(ett::check_fill(species::BUILT_IN_XENON_FRACTION));
    EXPECT_THROW(ett::check_fill(0.3), pdp::FatalError);

    std::string text = "# made by a test\n", lines[3];
    int l = 0;
    for (int r : {3, 10, 20}) {
        const ett::Row& row = ett::row(r);
        char line[1024];
        int at = std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g", row.reduced_field,
                               row.mean_energy, row.c.mobility_n, row.c.energy_mobility_n, row.c.diffusion_n,
                               row.c.energy_diffusion_n, row.c.loss_n, row.c.births_n);
        for (double k : row.c.rate) at += std::snprintf(line + at, sizeof line - at, " %.17g", k);
        lines[l++] = std::string(line) + "\n";
        text += lines[l - 1];
    }
    const ett::Row row10 = ett::row(10);
    ett::read_text(text, "table.txt", 0.3);
    ASSERT_EQ(ett::row_count(), 3);
    EXPECT_EQ(ett::row(1).c.rate[8], row10.c.rate[8]);
    EXPECT_NO_THROW(ett::check_fill(0.3));

    EXPECT_THROW(ett::read_text(text + "1 2 3\n", "table.txt", 0.3), pdp::FatalError);
    EXPECT_THROW(ett::read_text(lines[1] + lines[0], "unordered.txt", 0.3), pdp::FatalError);
    ett::use_built_in();
}
