#include "electrons/electron_transport_tables.hpp"

#include "common/fatal_error.hpp"
#include "common/portable_math.hpp"
#include "particles/species.hpp"

#include <cmath>
#include <sstream>
#include <vector>

namespace electron_transport_tables {

namespace {

// E/N (Td), then mean energy, the six transport and energy columns and the 16
// rate coefficients; see scripts/electron_transport_table.py.
const Row BUILT_IN[] = {
#include "electrons/electron_transport_builtin.inc"
};
constexpr int BUILT_IN_COUNT = sizeof BUILT_IN / sizeof BUILT_IN[0];

Row rows[MAX_ROWS];
int count = 0;
double table_xenon_fraction = -1;

constexpr int COLUMN_COUNT = 8 + PROCESS_COUNT;  // E/N, mean energy, 6 coefficients, 16 rates

// Linear interpolation of a rate coefficient's logarithm; a zero at either
// end (below a threshold) falls back to linear.
double rate_between(double a, double b, double f) {
    if (a > 0 && b > 0) return portable_math::exp((1 - f) * portable_math::log(a) + f * portable_math::log(b));
    return a + f * (b - a);
}

Coefficients between(const Coefficients& a, const Coefficients& b, double f) {
    Coefficients c;
    c.mobility_n = a.mobility_n + f * (b.mobility_n - a.mobility_n);
    c.energy_mobility_n = a.energy_mobility_n + f * (b.energy_mobility_n - a.energy_mobility_n);
    c.diffusion_n = a.diffusion_n + f * (b.diffusion_n - a.diffusion_n);
    c.energy_diffusion_n = a.energy_diffusion_n + f * (b.energy_diffusion_n - a.energy_diffusion_n);
    c.loss_n = a.loss_n + f * (b.loss_n - a.loss_n);
    c.births_n = rate_between(a.births_n, b.births_n, f);
    for (int p = 0; p < PROCESS_COUNT; ++p) c.rate[p] = rate_between(a.rate[p], b.rate[p], f);
    return c;
}

// Index r of the segment [r-1, r] that holds the energy, 1 <= r < count.
int segment(double mean_energy) {
    int r = 1;
    while (r < count - 1 && rows[r].mean_energy < mean_energy) ++r;
    return r;
}

}  // namespace

void set_rows(const Row* given, int n, double xenon_fraction) {
    if (n < 2 || n > MAX_ROWS)
        pdp::fatal({"ERROR: an electron transport table needs 2 to " + std::to_string(MAX_ROWS) + " rows, not " +
                    std::to_string(n)});
    for (int r = 0; r < n; ++r) {
        const Coefficients& c = given[r].c;
        if (!(given[r].mean_energy > 0) || !(c.mobility_n > 0) || !(c.diffusion_n > 0) ||
            !(c.energy_mobility_n > 0) || !(c.energy_diffusion_n > 0) || !(c.loss_n >= 0) ||
            (r > 0 && !(given[r].mean_energy > given[r - 1].mean_energy)))
            pdp::fatal({"ERROR: row " + std::to_string(r + 1) +
                            " of the electron transport table is not positive or not above the row before",
                        "       remake the table with scripts/electron_transport_table.py"});
    }
    for (int r = 0; r < n; ++r) rows[r] = given[r];
    count = n;
    table_xenon_fraction = xenon_fraction;
}

void use_built_in() { set_rows(BUILT_IN, BUILT_IN_COUNT, species::BUILT_IN_XENON_FRACTION); }

void read_text(const std::string& text, const std::string& name, double xenon_fraction) {
    std::istringstream in(text);
    std::string line;
    std::vector<Row> read;
    int line_number = 0;
    while (std::getline(in, line)) {
        ++line_number;
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        double v[COLUMN_COUNT];
        int n = 0;
        while (n < COLUMN_COUNT && words >> v[n]) ++n;
        std::string rest;
        if (n != COLUMN_COUNT || (words >> rest))
            pdp::fatal({"ERROR: line " + std::to_string(line_number) + " of " + name + " needs " +
                            std::to_string(COLUMN_COUNT) + " numbers",
                        "       remake it with scripts/electron_transport_table.py --text"});
        Row row{v[0], v[1], {v[2], v[3], v[4], v[5], v[6], v[7], {}}};
        for (int p = 0; p < PROCESS_COUNT; ++p) row.c.rate[p] = v[8 + p];
        read.push_back(row);
    }
    set_rows(read.data(), static_cast<int>(read.size()), xenon_fraction);
}

void check_fill(double xenon_fraction) {
    if (std::fabs(xenon_fraction - table_xenon_fraction) > 1e-9)
        pdp::fatal({"ERROR: the electron transport table is for " + std::to_string(100 * table_xenon_fraction) +
                        " % Xe, the fill has " + std::to_string(100 * xenon_fraction) + " %",
                    "       make its table with scripts/electron_transport_table.py --cell CELL_FILE --text"});
}

int row_count() { return count; }
const Row& row(int r) { return rows[r]; }

Coefficients at(double mean_energy) {
    if (mean_energy <= rows[0].mean_energy) {
        Coefficients c = rows[0].c;
        c.loss_n *= std::fmax(mean_energy, 0.0) / rows[0].mean_energy;
        return c;
    }
    if (mean_energy >= rows[count - 1].mean_energy) {
        Coefficients c = rows[count - 1].c;
        c.loss_n += loss_slope_n(mean_energy) * (mean_energy - rows[count - 1].mean_energy);
        return c;
    }
    const int r = segment(mean_energy);
    const double f = (mean_energy - rows[r - 1].mean_energy) / (rows[r].mean_energy - rows[r - 1].mean_energy);
    return between(rows[r - 1].c, rows[r].c, f);
}

Transport transport_at(double mean_energy) {
    const auto of = [](const Coefficients& c) {
        return Transport{c.mobility_n, c.energy_mobility_n, c.diffusion_n, c.energy_diffusion_n};
    };
    if (mean_energy <= rows[0].mean_energy) return of(rows[0].c);
    if (mean_energy >= rows[count - 1].mean_energy) return of(rows[count - 1].c);
    const int r = segment(mean_energy);
    const double f = (mean_energy - rows[r - 1].mean_energy) / (rows[r].mean_energy - rows[r - 1].mean_energy);
    const Transport a = of(rows[r - 1].c), b = of(rows[r].c);
    return {a.mobility_n + f * (b.mobility_n - a.mobility_n),
            a.energy_mobility_n + f * (b.energy_mobility_n - a.energy_mobility_n),
            a.diffusion_n + f * (b.diffusion_n - a.diffusion_n),
            a.energy_diffusion_n + f * (b.energy_diffusion_n - a.energy_diffusion_n)};
}

Source source_at(double mean_energy) {
    if (mean_energy <= rows[0].mean_energy)
        return {rows[0].c.loss_n * (std::fmax(mean_energy, 0.0) / rows[0].mean_energy), rows[0].c.births_n};
    if (mean_energy >= rows[count - 1].mean_energy) {
        const Coefficients& c = rows[count - 1].c;
        return {c.loss_n + loss_slope_n(mean_energy) * (mean_energy - rows[count - 1].mean_energy), c.births_n};
    }
    const int r = segment(mean_energy);
    const double f = (mean_energy - rows[r - 1].mean_energy) / (rows[r].mean_energy - rows[r - 1].mean_energy);
    const Coefficients &a = rows[r - 1].c, &b = rows[r].c;
    return {a.loss_n + f * (b.loss_n - a.loss_n), rate_between(a.births_n, b.births_n, f)};
}

double rate_at(double mean_energy, int process) {
    if (mean_energy <= rows[0].mean_energy) return rows[0].c.rate[process];
    if (mean_energy >= rows[count - 1].mean_energy) return rows[count - 1].c.rate[process];
    const int r = segment(mean_energy);
    const double f = (mean_energy - rows[r - 1].mean_energy) / (rows[r].mean_energy - rows[r - 1].mean_energy);
    return rate_between(rows[r - 1].c.rate[process], rows[r].c.rate[process], f);
}

double loss_slope_n(double mean_energy) {
    if (mean_energy <= rows[0].mean_energy) return rows[0].c.loss_n / rows[0].mean_energy;
    const int r = segment(mean_energy);  // the last segment beyond the table
    return (rows[r].c.loss_n - rows[r - 1].c.loss_n) / (rows[r].mean_energy - rows[r - 1].mean_energy);
}

}  // namespace electron_transport_tables
