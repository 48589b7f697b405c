#include "input/cell_file.hpp"

#include "common/fatal_error.hpp"
#include "mesh/mesh_arrays.hpp"

#include <toml++/toml.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

namespace cell_file {

namespace {

Cell current_cell;

constexpr double BOLTZMANN = 1.380649e-23;    // J/K
constexpr double PASCAL_PER_TORR = 133.322368;  // 101325/760

// Sustain electrodes are centred on this node along y: the cell's middle.
constexpr int SUSTAIN_CENTRE = (mesh::NY + 1) / 2;
// The fewest gas nodes across the gap and under the phosphor that the movers
// and the wall tests are meant for.
constexpr int FEWEST_GAS_NODES_X = 5;
constexpr int LAST_GAS_NODE_Z_AT_LEAST = 4;

int nearest(double v) { return static_cast<int>(std::lround(v)); }

std::string number_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", v);
    return text;
}

// Reads one file's tables, knowing the name and line of each value.
class Reader {
public:
    explicit Reader(const std::string& name) : name_(name) {}

    [[noreturn]] void refuse(const toml::node* node, const std::string& key, const std::string& problem,
                             const std::string& advice) const {
        std::string where = "ERROR: " + name_;
        if (node != nullptr && node->source().begin.line > 0)
            where += " line " + std::to_string(node->source().begin.line);
        pdp::fatal({where + ": " + key + " " + problem, "       " + advice});
    }

    // Refuses any key of `table` (at `path`) outside `known`.
    void only(const toml::table& table, const std::string& path, std::initializer_list<const char*> known) const {
        for (const auto& [key, node] : table) {
            bool found = false;
            std::string list;
            for (const char* k : known) {
                found = found || key.str() == k;
                list += (list.empty() ? "" : ", ") + std::string(k);
            }
            if (!found) refuse(&node, path + std::string(key.str()), "is not a key of the cell file", "the keys here are: " + list);
        }
    }

    const toml::table* section(const toml::table& parent, const std::string& path, const char* key) const {
        const toml::node* node = parent.get(key);
        if (node == nullptr) return nullptr;
        if (!node->is_table()) refuse(node, path + key, "must be a table ([" + path + key + "])", "write it as a section of keys");
        return node->as_table();
    }

    // The number under `key`, if given; its line for later refusals.
    bool number(const toml::table& table, const std::string& path, const char* key, double& value,
                const toml::node** where = nullptr) const {
        const toml::node* node = table.get(key);
        if (node == nullptr) return false;
        if (const auto* f = node->as_floating_point()) value = f->get();
        else if (const auto* i = node->as_integer()) value = static_cast<double>(i->get());
        else refuse(node, path + key, "is not a number", "give a plain number, e.g. " + path + key + " = 0.5");
        if (!std::isfinite(value)) refuse(node, path + key, "is not finite", "give a finite number");
        if (where != nullptr) *where = node;
        return true;
    }

    void positive(const toml::table& table, const std::string& path, const char* key, double& value,
                  const char* unit, const toml::node** where = nullptr) const {
        const toml::node* node = nullptr;
        if (!number(table, path, key, value, &node)) return;
        if (value <= 0.0) refuse(node, path + key, "= " + number_text(value) + " is not positive", std::string("give a positive value in ") + unit);
        if (where != nullptr) *where = node;
    }

    void between(const toml::table& table, const std::string& path, const char* key, double& value, double low,
                 double high, const std::string& advice) const {
        const toml::node* node = nullptr;
        if (!number(table, path, key, value, &node)) return;
        if (value < low || value > high)
            refuse(node, path + key, "= " + number_text(value) + " is outside " + number_text(low) + " to " + number_text(high), advice);
    }

private:
    const std::string& name_;
};

void read_fill(const Reader& in, const toml::table& fill, Cell& cell) {
    in.only(fill, "fill.", {"xenon_fraction", "density_cm3", "pressure_torr", "temperature_k"});
    in.between(fill, "fill.", "xenon_fraction", cell.xenon_fraction, 0.0, 1.0,
               "give the fraction of the atoms that are xenon, e.g. 0.14 for Ne + 14 % Xe");
    double pressure = 0.0, temperature = 0.0;
    const toml::node *density_at = nullptr, *pressure_at = nullptr, *temperature_at = nullptr;
    in.positive(fill, "fill.", "density_cm3", cell.density, "cm^-3", &density_at);
    in.positive(fill, "fill.", "pressure_torr", pressure, "Torr", &pressure_at);
    in.positive(fill, "fill.", "temperature_k", temperature, "K", &temperature_at);
    if (density_at != nullptr && (pressure_at != nullptr || temperature_at != nullptr))
        in.refuse(pressure_at != nullptr ? pressure_at : temperature_at, "fill.density_cm3",
                  "and the pressure or temperature are both given", "give either the density or the pressure with the temperature");
    if ((pressure_at == nullptr) != (temperature_at == nullptr))
        in.refuse(pressure_at != nullptr ? pressure_at : temperature_at,
                  pressure_at != nullptr ? "fill.pressure_torr" : "fill.temperature_k", "is given alone",
                  "give the pressure (fill.pressure_torr) together with the gas temperature (fill.temperature_k)");
    if (pressure_at != nullptr) cell.density = density_of(pressure, temperature);
}

void read_emission(const Reader& in, const toml::table& emission, Cell& cell) {
    in.only(emission, "emission.", {"front", "rear", "rib", "energy_ev"});
    in.between(emission, "emission.", "energy_ev", cell.emission_energy, 0.0, 100.0,
               "give the energy of each emitted electron in eV (0: at rest)");
    const char* walls[3] = {"front", "rear", "rib"};
    for (int w = 0; w < 3; ++w) {
        const toml::table* wall = in.section(emission, "emission.", walls[w]);
        if (wall == nullptr) continue;
        const std::string path = std::string("emission.") + walls[w] + ".";
        in.only(*wall, path, {"ne", "xe"});
        const std::string advice = "give the electrons per absorbed ion, 0 to 1 (the model emits at most one)";
        in.between(*wall, path, "ne", cell.yield[w][0], 0.0, 1.0, advice);
        in.between(*wall, path, "xe", cell.yield[w][1], 0.0, 1.0, advice);
    }
}

void read_dielectrics(const Reader& in, const toml::table& d, Cell& cell) {
    in.only(d, "dielectrics.", {"front_thickness_cm", "front_permittivity", "rear_thickness_cm", "rear_permittivity",
                                "phosphor_thickness_cm", "phosphor_permittivity", "rib_width_cm", "rib_permittivity"});
    const std::string advice = "give the relative permittivity, at least 1";
    in.between(d, "dielectrics.", "front_permittivity", cell.eps_front, 1.0, 1e4, advice);
    in.between(d, "dielectrics.", "rear_permittivity", cell.eps_rear, 1.0, 1e4, advice);
    in.between(d, "dielectrics.", "phosphor_permittivity", cell.eps_phosphor, 1.0, 1e4, advice);
    in.between(d, "dielectrics.", "rib_permittivity", cell.eps_rib, 1.0, 1e4, advice);

    using mesh::dx;
    using mesh::dz;
    Layout& l = cell.layout;
    double front = 0.0, rear = 0.0, phosphor = 0.0, rib = 0.0;
    const toml::node *front_at = nullptr, *rear_at = nullptr, *phosphor_at = nullptr, *rib_at = nullptr;
    in.positive(d, "dielectrics.", "front_thickness_cm", front, "cm", &front_at);
    in.positive(d, "dielectrics.", "rear_thickness_cm", rear, "cm", &rear_at);
    in.number(d, "dielectrics.", "phosphor_thickness_cm", phosphor, &phosphor_at);
    in.positive(d, "dielectrics.", "rib_width_cm", rib, "cm", &rib_at);
    if (front_at != nullptr) l.front_last = 1 + nearest(front / dx);
    if (rear_at != nullptr) l.rear_first = mesh::NX - nearest(rear / dx);
    if (phosphor_at != nullptr) {
        if (phosphor < 0.0) in.refuse(phosphor_at, "dielectrics.phosphor_thickness_cm", "is negative", "give 0 or more cm");
        l.phosphor = nearest(phosphor / dz);
    }
    if (rib_at != nullptr) l.rib_half = nearest(rib / (2 * dz));

    const std::string mesh_steps = "the mesh steps are dx = " + number_text(dx) + " cm across the gap and dz = " + number_text(dz) + " cm across the rib";
    if (front_at != nullptr && l.front_last < 2)
        in.refuse(front_at, "dielectrics.front_thickness_cm", "= " + number_text(front) + " snaps to no mesh step", mesh_steps);
    if (rear_at != nullptr && l.rear_first > mesh::NX - 1)
        in.refuse(rear_at, "dielectrics.rear_thickness_cm", "= " + number_text(rear) + " snaps to no mesh step", mesh_steps);
    if (rib_at != nullptr && l.rib_half < 1)
        in.refuse(rib_at, "dielectrics.rib_width_cm", "= " + number_text(rib) + " snaps to no mesh step", mesh_steps);
    const int gas_x = l.rear_first - l.front_last - 1;
    if (gas_x < FEWEST_GAS_NODES_X)
        in.refuse(front_at != nullptr ? front_at : rear_at,
                  front_at != nullptr ? "dielectrics.front_thickness_cm" : "dielectrics.rear_thickness_cm",
                  "leaves " + std::to_string(std::max(gas_x, 0)) + " gas nodes across the gap, fewer than " + std::to_string(FEWEST_GAS_NODES_X),
                  "the two dielectrics together may be at most " + number_text((mesh::NX - 2 - FEWEST_GAS_NODES_X) * dx) + " cm thick");
    const int last_gas_z = 12 - l.rib_half - l.phosphor;
    if (last_gas_z < LAST_GAS_NODE_Z_AT_LEAST)
        in.refuse(phosphor_at != nullptr ? phosphor_at : rib_at,
                  phosphor_at != nullptr ? "dielectrics.phosphor_thickness_cm" : "dielectrics.rib_width_cm",
                  "leaves too little gas beside the rib", "half the rib width and the phosphor together may be at most " +
                  number_text((12 - LAST_GAS_NODE_Z_AT_LEAST) * dz) + " cm");
}

void read_electrodes(const Reader& in, const toml::table& e, Cell& cell) {
    in.only(e, "electrodes.", {"sustain_width_cm", "sustain_gap_cm", "address_width_cm"});
    using mesh::dy;
    using mesh::dz;
    Layout& l = cell.layout;
    double width = 0.0, gap = 0.0, address = 0.0;
    const toml::node *width_at = nullptr, *gap_at = nullptr, *address_at = nullptr;
    in.positive(e, "electrodes.", "sustain_width_cm", width, "cm", &width_at);
    in.number(e, "electrodes.", "sustain_gap_cm", gap, &gap_at);
    in.positive(e, "electrodes.", "address_width_cm", address, "cm", &address_at);
    if (width_at != nullptr) l.sustain_width = nearest(width / dy);
    if (gap_at != nullptr) l.sustain_gap = nearest(gap / dy);
    if (address_at != nullptr) l.address_nodes = nearest(address / (2 * dz)) + 1;

    const std::string steps = "the mesh step along the electrodes' widths is dy = " + number_text(dy) + " cm";
    if (width_at != nullptr && l.sustain_width < 1)
        in.refuse(width_at, "electrodes.sustain_width_cm", "= " + number_text(width) + " snaps to no mesh step", steps);
    if (gap_at != nullptr && l.sustain_gap < 1)
        in.refuse(gap_at, "electrodes.sustain_gap_cm", "= " + number_text(gap) + " snaps to " + std::to_string(l.sustain_gap) +
                  " mesh steps: the two sustain electrodes would touch or overlap", "give a gap of at least " + number_text(dy) + " cm");
    const int span = 2 * l.sustain_width + l.sustain_gap;
    l.sustain_first = SUSTAIN_CENTRE - (span - 1) / 2;
    if (l.sustain_first < 2 || l.sustain_first + span - 1 > mesh::NY - 1)
        in.refuse(width_at != nullptr ? width_at : gap_at, width_at != nullptr ? "electrodes.sustain_width_cm" : "electrodes.sustain_gap_cm",
                  "makes the two electrodes and their gap " + number_text(span * dy) + " cm wide, more than the cell's " +
                  number_text((mesh::NY - 2) * dy) + " cm", "give narrower electrodes or a smaller gap");
    if (address_at != nullptr && l.address_nodes > mesh::NZ)
        in.refuse(address_at, "electrodes.address_width_cm", "= " + number_text(address) + " is wider than the cell",
                  "the cell holds half an address electrode of at most " + number_text((mesh::NZ - 1) * dz) + " cm, so give at most " +
                  number_text(2 * (mesh::NZ - 1) * dz) + " cm");
}

}  // namespace

double density_of(double pressure_torr, double temperature_k) {
    return pressure_torr * PASCAL_PER_TORR / (BOLTZMANN * temperature_k) * 1e-6;  // m^-3 to cm^-3
}

Cell parse(const std::string& text, const std::string& name) {
    toml::table root;
    try {
        root = toml::parse(text, name);
    } catch (const toml::parse_error& error) {
        pdp::fatal({"ERROR: " + name + " line " + std::to_string(error.source().begin.line) + ": " +
                        std::string(error.description()),
                    "       write it as TOML: [section] lines and key = value lines"});
    }
    Cell cell;
    cell.given = true;
    cell.text = text;
    const Reader in(name);
    in.only(root, "", {"fill", "emission", "dielectrics", "electrodes"});
    if (const toml::table* t = in.section(root, "", "fill")) read_fill(in, *t, cell);
    if (const toml::table* t = in.section(root, "", "emission")) read_emission(in, *t, cell);
    if (const toml::table* t = in.section(root, "", "dielectrics")) read_dielectrics(in, *t, cell);
    if (const toml::table* t = in.section(root, "", "electrodes")) read_electrodes(in, *t, cell);
    return cell;
}

Cell read_case_cell() {
    std::ifstream file(CELL_FILE, std::ios::binary);
    if (!file) return Cell{};
    std::ostringstream text;
    text << file.rdbuf();
    return parse(text.str(), CELL_FILE);
}

species::Fill fill_of(const Cell& cell) {
    species::Fill fill = species::fill_with(cell.density, cell.xenon_fraction);
    for (int w = 0; w < 3; ++w)
        for (int s = 0; s < 2; ++s) fill.yield[w][s] = cell.yield[w][s];
    fill.emission_energy = cell.emission_energy;
    return fill;
}

std::string describe(const Cell& c) {
    using mesh::dx;
    using mesh::dy;
    using mesh::dz;
    const Layout& l = c.layout;
    auto line = [](const std::string& text) { return text + "\n"; };
    std::string text = line("cell file " + std::string(CELL_FILE) + ":");
    text += line("  fill: Ne + " + number_text(100 * c.xenon_fraction) + " % Xe, " + number_text(c.density) + " cm^-3");
    text += line("  yields Ne+, Xe+: front " + number_text(c.yield[0][0]) + ", " + number_text(c.yield[0][1]) + "; rear " +
                 number_text(c.yield[1][0]) + ", " + number_text(c.yield[1][1]) + "; rib " + number_text(c.yield[2][0]) +
                 ", " + number_text(c.yield[2][1]) + "; emitted at " + number_text(c.emission_energy) + " eV");
    text += line("  front dielectric " + number_text((l.front_last - 1) * dx) + " cm (" + std::to_string(l.front_last - 1) +
                 " steps), permittivity " + number_text(c.eps_front) + "; rear " + number_text((mesh::NX - l.rear_first) * dx) +
                 " cm (" + std::to_string(mesh::NX - l.rear_first) + " steps), permittivity " + number_text(c.eps_rear));
    text += line("  phosphor " + number_text(l.phosphor * dz) + " cm (" + std::to_string(l.phosphor) + " steps), permittivity " +
                 number_text(c.eps_phosphor) + "; rib " + number_text(2 * l.rib_half * dz) + " cm wide (" +
                 std::to_string(2 * l.rib_half) + " steps), permittivity " + number_text(c.eps_rib));
    const int second = l.sustain_first + l.sustain_width + l.sustain_gap;
    text += line("  sustain electrodes " + number_text(l.sustain_width * dy) + " cm wide (nodes " +
                 std::to_string(l.sustain_first) + " to " + std::to_string(l.sustain_first + l.sustain_width - 1) + " and " +
                 std::to_string(second) + " to " + std::to_string(second + l.sustain_width - 1) + "), gap " +
                 number_text(l.sustain_gap * dy) + " cm; address electrode " + number_text(2 * (l.address_nodes - 1) * dz) + " cm wide");
    return text;
}

const Cell& current() { return current_cell; }
void set_current(const Cell& cell) { current_cell = cell; }
void reset() { current_cell = Cell{}; }

}  // namespace cell_file
