#pragma once
// The electron fluid's coefficients as functions of the mean energy, taken
// from the flights of the project's own collision model over a ladder of
// E/N (pdpcell-swarm --moments, made by scripts/electron_transport_table.py).
// Every coefficient is per gas density N, so that a table holds for any
// density of the fill's composition; the built-in table is that of the
// built-in fill (14 % Xe), and another Xe fraction needs its own table.
#include <string>

namespace electron_transport_tables {

constexpr int PROCESS_COUNT = 16;  // in the tallies' order (electron_collisions::process_index)
constexpr int MAX_ROWS = 64;

struct Coefficients {
    double mobility_n;          // flux mobility times N, 1/(V·cm·s)
    double energy_mobility_n;   // energy flux mobility times N, 1/(V·cm·s)
    double diffusion_n;         // flux diffusion times N, 1/(cm·s)
    double energy_diffusion_n;  // energy diffusion times N, 1/(cm·s)
    double loss_n;              // energy lost in collisions per electron over N, eV·cm^3/s
    double births_n;            // new electrons per electron over N (ionization and Penning), cm^3/s
    double rate[PROCESS_COUNT]; // rate coefficients, cm^3/s
};

struct Row {
    double reduced_field;  // Td, where the flights were run
    double mean_energy;    // eV
    Coefficients c;
};

// The built-in fill's table, checked in.
void use_built_in();
// Rows ordered by rising mean energy, for a fill of this Xe fraction; refused
// (pdp::fatal) if they are not ordered or not positive.
void set_rows(const Row* rows, int count, double xenon_fraction);
// Reads a table written by scripts/electron_transport_table.py --text.
void read_text(const std::string& text, const std::string& name, double xenon_fraction);
// Refuses a fill whose Xe fraction is not the table's: its rates differ.
void check_fill(double xenon_fraction);

int row_count();
const Row& row(int r);

// The coefficients at a mean energy (eV): linear in the energy between rows,
// the rate coefficients linear in their logarithm (they rise steeply). Beyond
// the table everything is held at the end row but the loss: above the last
// row it keeps the last segment's slope, below the first it falls in
// proportion to the energy (elastic recoil), so that it always rises.
Coefficients at(double mean_energy);
// The four transport coefficients alone (as in at()), for the faces.
struct Transport {
    double mobility_n, energy_mobility_n, diffusion_n, energy_diffusion_n;
};
Transport transport_at(double mean_energy);
// The loss and the birth rate alone, with the same bits as at(): the
// energy's implicit solve looks them up some ten times per node and step,
// where at() would interpolate all 16 rates each time.
struct Source {
    double loss_n, births_n;
};
Source source_at(double mean_energy);
// The rate coefficient of one process (0..15), with the same bits as at().
double rate_at(double mean_energy, int process);
// d(loss_n)/d(mean energy) at this energy, cm^3/s: the stiffness of the
// energy equation's source.
double loss_slope_n(double mean_energy);

}  // namespace electron_transport_tables
