#include "output/vtk_output.hpp"

#include "common/fatal_error.hpp"
#include "mesh/field_interpolation.hpp"
#include "mesh/mesh_arrays.hpp"
#include "output/density_accumulation.hpp"
#include "particles/particle_storage.hpp"
#include "particles/species.hpp"
#include "radiation/xe_kinetics.hpp"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace vtk_output {

using namespace mesh;
using PARTICLE_STORAGE::Store;

namespace {

static_assert(std::endian::native == std::endian::little, "the files declare little-endian data");

constexpr double UM_PER_CM = 1e4;
constexpr double NS_PER_S = 1e9;
constexpr int MAX_WRITES = 1000001;  // at most one write per step

// The collections' entries: step and simulated time (s) of every write of the run.
int written_step[MAX_WRITES];
double written_time[MAX_WRITES];
int write_count = 0;
bool folder_ready = false;

// The run's densities, kept aside while a write accumulates those of its step.
double kept_ion_density[2 * NODE_COUNT];
double kept_electron_density[NODE_COUNT];
double kept_electron_energy[NODE_COUNT];

// The file being written, and the bytes not yet handed to it.
std::FILE* out = nullptr;
char out_path[64];
char out_temporary[72];
unsigned char chunk[1 << 16];
std::size_t chunk_used = 0;

// ---- Bytes and files ----

void flush_chunk() {
    if (chunk_used > 0) std::fwrite(chunk, 1, chunk_used, out);
    chunk_used = 0;
}

void put_bytes(const void* p, std::size_t n) {
    if (chunk_used + n > sizeof chunk) flush_chunk();
    if (n > sizeof chunk) {  // a whole array: straight to the file
        std::fwrite(p, 1, n, out);
        return;
    }
    std::memcpy(chunk + chunk_used, p, n);
    chunk_used += n;
}
void put_f64(double v) { put_bytes(&v, sizeof v); }
void put_i32(std::int32_t v) { put_bytes(&v, sizeof v); }
void put_u8(std::uint8_t v) { put_bytes(&v, sizeof v); }
void put_block_length(std::uint64_t bytes) { put_bytes(&bytes, sizeof bytes); }

void prepare_folder() {
    if (folder_ready) return;
    std::error_code ec;
    std::filesystem::create_directories("vtk", ec);
    if (!std::filesystem::is_directory("vtk"))
        pdp::fatal("ERROR: Can't create folder vtk: " + ec.message());
    folder_ready = true;
}

// Opens "vtk/name" under a temporary name.
void open_file(const char* name) {
    std::snprintf(out_path, sizeof out_path, "vtk/%s", name);
    std::snprintf(out_temporary, sizeof out_temporary, "%s.tmp", out_path);
    out = std::fopen(out_temporary, "wb");
    if (out == nullptr) pdp::fatal("ERROR: Can't open file: " + std::string(out_temporary) + ": " + std::strerror(errno));
    chunk_used = 0;
}

// Closes the file and gives it its name; a failed write removes it and
// stops the run, leaving the earlier files and collections as they were.
void finish_file() {
    flush_chunk();
    const bool write_failed = std::ferror(out) != 0;
    const int write_error = errno;
    const bool close_failed = std::fclose(out) != 0;
    const int error = write_failed ? write_error : errno;
    out = nullptr;
    if (write_failed || close_failed) {
        std::remove(out_temporary);
        pdp::fatal("ERROR: writing " + std::string(out_path) + " failed: " + std::strerror(error));
    }
    if (std::rename(out_temporary, out_path) != 0) {
        const int e = errno;
        std::remove(out_temporary);
        pdp::fatal("ERROR: Can't rename " + std::string(out_temporary) + ": " + std::strerror(e));
    }
}

// ---- XML around the appended data ----

void begin_document(const char* type) {
    std::fprintf(out, "<?xml version=\"1.0\"?>\n"
                      "<VTKFile type=\"%s\" version=\"1.0\" byte_order=\"LittleEndian\" header_type=\"UInt64\">\n",
                 type);
}

// The step and the time in ns; ParaView takes "TimeValue" as the data set's time.
void field_data(int step, double t) {
    std::fprintf(out,
                 "    <FieldData>\n"
                 "      <DataArray type=\"Float64\" Name=\"TimeValue\" NumberOfTuples=\"1\" format=\"ascii\">%.17g</DataArray>\n"
                 "      <DataArray type=\"Int32\" Name=\"step\" NumberOfTuples=\"1\" format=\"ascii\">%d</DataArray>\n"
                 "    </FieldData>\n",
                 t * NS_PER_S, step);
}

// Declares one appended array of n tuples; offset advances past its block.
void declare(const char* type, const char* name, int components, std::uint64_t n, int value_bytes,
             std::uint64_t& offset) {
    std::fprintf(out,
                 "        <DataArray type=\"%s\" Name=\"%s\" NumberOfComponents=\"%d\" format=\"appended\" "
                 "offset=\"%llu\"/>\n",
                 type, name, components, static_cast<unsigned long long>(offset));
    offset += sizeof(std::uint64_t) + n * components * value_bytes;
}

void begin_appended_data() { std::fprintf(out, "  <AppendedData encoding=\"raw\">\n   _"); }
void end_document() {
    flush_chunk();
    std::fprintf(out, "\n  </AppendedData>\n</VTKFile>\n");
}

// ---- Fields on the mesh ----

// The scalar node arrays, in file order.
enum NodeScalar { NE_DENSITY, XE_DENSITY, ELECTRON_DENSITY, ELECTRON_ENERGY, POTENTIAL, NODE_SCALARS };
const char* const NODE_SCALAR_NAME[NODE_SCALARS] = {"Ne+ density (cm^-3)", "Xe+ density (cm^-3)",
                                                    "electron density (cm^-3)", "electron mean energy (eV)",
                                                    "potential (V)"};

// Number densities from the charge densities (C/cm^3); n is the node offset.
double node_scalar(int q, int n) {
    switch (q) {
        case NE_DENSITY: return ion_density[2 * n] / ELECTRON_CHARGE;
        case XE_DENSITY: return ion_density[2 * n + 1] / ELECTRON_CHARGE;
        case ELECTRON_DENSITY: return (0.0 - electron_density[n]) / ELECTRON_CHARGE;  // no -0 where empty
        case ELECTRON_ENERGY: return electron_energy[n];
        default: return phi[n];
    }
}

// With the VUV states (--vuv), after the others: their densities (cm^-3).
constexpr int VUV_SCALARS = 3;
const char* const VUV_SCALAR_NAME[VUV_SCALARS] = {"Xe*(1s5) density (cm^-3)", "Xe*(1s4) density (cm^-3)",
                                                  "Xe2* excimer density (cm^-3)"};
double vuv_scalar(int q, int n) {
    if (q == 0) return xe_kinetics::node_density(n, xe_rates::METASTABLE);
    if (q == 1) return xe_kinetics::node_density(n, xe_rates::RESONANT);
    return xe_kinetics::excimer_density(n);
}

bool is_gas(int i, int j, int k) { return material_map[padded(i, j, k)] == 0; }

void write_fields(int step, double t, const char* name) {
    open_file(name);
    begin_document("ImageData");
    // Extent indices are the node numbers; node n lies at (n + 1/2)·h.
    std::fprintf(out, "  <ImageData WholeExtent=\"1 %d 1 %d 1 %d\" Origin=\"%.10g %.10g %.10g\" Spacing=\"%.10g %.10g %.10g\">\n",
                 NX, NY, NZ, 0.5 * dx * UM_PER_CM, 0.5 * dy * UM_PER_CM, 0.5 * dz * UM_PER_CM, dx * UM_PER_CM,
                 dy * UM_PER_CM, dz * UM_PER_CM);
    field_data(step, t);
    std::fprintf(out, "    <Piece Extent=\"1 %d 1 %d 1 %d\">\n"
                      "      <PointData Scalars=\"potential (V)\" Vectors=\"E (V/cm)\">\n", NX, NY, NZ);
    std::uint64_t offset = 0;
    for (const char* q : NODE_SCALAR_NAME) declare("Float64", q, 1, NODE_COUNT, 8, offset);
    declare("Float64", "E (V/cm)", 3, NODE_COUNT, 8, offset);
    declare("UInt8", "gas", 1, NODE_COUNT, 1, offset);
    declare("Float64", "relative permittivity", 1, NODE_COUNT, 8, offset);
    if (xe_kinetics::on())
        for (const char* q : VUV_SCALAR_NAME) declare("Float64", q, 1, NODE_COUNT, 8, offset);
    std::fprintf(out, "      </PointData>\n    </Piece>\n  </ImageData>\n");
    begin_appended_data();

    // Point order of ImageData is x fastest, then y, then z: the node order.
    for (int q = 0; q < NODE_SCALARS; ++q) {
        put_block_length(8ull * NODE_COUNT);
        for (int n = 0; n < NODE_COUNT; ++n) put_f64(node_scalar(q, n));
    }
    put_block_length(3 * 8ull * NODE_COUNT);
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                double E[3];
                node_field(i, j, k, E[0], E[1], E[2]);
                put_bytes(E, sizeof E);
            }
    put_block_length(NODE_COUNT);
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) put_u8(is_gas(i, j, k) ? 1 : 0);
    put_block_length(8ull * NODE_COUNT);
    put_bytes(eps_node, sizeof eps_node);
    if (xe_kinetics::on())
        for (int q = 0; q < VUV_SCALARS; ++q) {
            put_block_length(8ull * NODE_COUNT);
            for (int n = 0; n < NODE_COUNT; ++n) put_f64(vuv_scalar(q, n));
        }
    end_document();
    finish_file();
}

// ---- Wall charge on quads of the three charged walls ----

enum WallId { FRONT = 1, REAR = 2, RIB = 3 };

// One wall cell: its wall, its quad's corners (cm) and its charge per area.
struct WallQuad {
    int wall;
    double corner[4][3];
    double sigma;  // C/cm^2
};

// The wall cells that tile the three walls of the gas box, in a fixed order:
// front and rear by (j, k), the rib by (i, j). A cell's charge per volume times
// the spacing across the wall is its charge per area.
int wall_quad_count() {
    const int ni = ihi - ilo + 1, nj = jhi - jlo + 1, nk = khi - klo + 1;
    return 2 * nj * nk + ni * nj;
}

WallQuad wall_quad(int q) {
    const int ni = ihi - ilo + 1, nj = jhi - jlo + 1, nk = khi - klo + 1;
    WallQuad w{};
    if (q < 2 * nj * nk) {
        const bool front = q < nj * nk;
        const int r = front ? q : q - nj * nk;
        const int j = jlo + r % nj, k = klo + r / nj;
        const int i = front ? ilo : ihi + 1;  // the wall lies on face i: x = i·dx
        w.wall = front ? FRONT : REAR;
        w.sigma = wall_charge_x[padded(i, j, k)] * dx;
        const double x = i * dx, y0 = j * dy, y1 = (j + 1) * dy, z0 = k * dz, z1 = (k + 1) * dz;
        const double c[4][3] = {{x, y0, z0}, {x, y1, z0}, {x, y1, z1}, {x, y0, z1}};
        std::memcpy(w.corner, c, sizeof c);
    } else {
        const int r = q - 2 * nj * nk;
        const int i = ilo + r % ni, j = jlo + r / ni, k = khi + 1;  // rib on face k: z = k·dz
        w.wall = RIB;
        w.sigma = wall_charge_z[padded(i, j, k)] * dz;
        const double z = k * dz, x0 = i * dx, x1 = (i + 1) * dx, y0 = j * dy, y1 = (j + 1) * dy;
        const double c[4][3] = {{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}};
        std::memcpy(w.corner, c, sizeof c);
    }
    return w;
}

void write_walls(int step, double t, const char* name) {
    const std::uint64_t quads = wall_quad_count();
    open_file(name);
    begin_document("PolyData");
    std::fprintf(out, "  <PolyData>\n");
    field_data(step, t);
    std::fprintf(out, "    <Piece NumberOfPoints=\"%llu\" NumberOfVerts=\"0\" NumberOfLines=\"0\" NumberOfStrips=\"0\" NumberOfPolys=\"%llu\">\n",
                 static_cast<unsigned long long>(4 * quads), static_cast<unsigned long long>(quads));
    std::uint64_t offset = 0;
    std::fprintf(out, "      <CellData Scalars=\"surface charge (C/cm^2)\">\n");
    declare("Float64", "surface charge (C/cm^2)", 1, quads, 8, offset);
    declare("Int32", "wall (1 front, 2 rear, 3 rib)", 1, quads, 4, offset);
    std::fprintf(out, "      </CellData>\n      <Points>\n");
    declare("Float64", "position (um)", 3, 4 * quads, 8, offset);
    std::fprintf(out, "      </Points>\n      <Polys>\n");
    declare("Int32", "connectivity", 1, 4 * quads, 4, offset);
    declare("Int32", "offsets", 1, quads, 4, offset);
    std::fprintf(out, "      </Polys>\n    </Piece>\n  </PolyData>\n");
    begin_appended_data();

    put_block_length(8 * quads);
    for (std::uint64_t q = 0; q < quads; ++q) put_f64(wall_quad(static_cast<int>(q)).sigma);
    put_block_length(4 * quads);
    for (std::uint64_t q = 0; q < quads; ++q) put_i32(wall_quad(static_cast<int>(q)).wall);
    put_block_length(3 * 8 * 4 * quads);
    for (std::uint64_t q = 0; q < quads; ++q) {
        const WallQuad w = wall_quad(static_cast<int>(q));
        for (const auto& c : w.corner)
            for (double v : c) put_f64(v * UM_PER_CM);
    }
    put_block_length(4 * 4 * quads);
    for (std::uint64_t p = 0; p < 4 * quads; ++p) put_i32(static_cast<std::int32_t>(p));
    put_block_length(4 * quads);
    for (std::uint64_t q = 1; q <= quads; ++q) put_i32(static_cast<std::int32_t>(4 * q));
    end_document();
    finish_file();
}

// ---- Particles ----

enum Column { POSITION, KIND, ORIGIN, VELOCITY, ENERGY, WEIGHT };

// Kinetic energy in eV from the speed squared, (cm/s)^2.
double ion_energy(int kind, double v2) {
    return 0.5 * v2 / (kind == 1 ? species::QM_NE_ION : species::QM_XE_ION);
}

// One column for every live record, ions first, each store in slot order.
// Reads the slots directly, so the stores' cursors stay where they are.
void put_column(Column c) {
    const Store* stores[2] = {&PARTICLE_STORAGE::ions, &PARTICLE_STORAGE::electrons};
    for (int s = 0; s < 2; ++s) {
        const Store& st = *stores[s];
        const bool electron = s == 1;
        for (int n = 1; n <= st.count; ++n) {
            if (st.w[n] == 0.0) continue;  // dead slot
            const double v2 = st.vz[n] * st.vz[n] + st.vy[n] * st.vy[n] + st.vx[n] * st.vx[n];
            switch (c) {
                case POSITION:
                    put_f64(st.x[n] * UM_PER_CM), put_f64(st.y[n] * UM_PER_CM), put_f64(st.z[n] * UM_PER_CM);
                    break;
                case KIND: put_i32(electron ? 0 : st.species[n]); break;
                case ORIGIN: put_i32(electron ? st.species[n] : -1); break;
                case VELOCITY: put_f64(st.vx[n]), put_f64(st.vy[n]), put_f64(st.vz[n]); break;
                case ENERGY:
                    put_f64(electron ? v2 * densities::ENERGY_PER_SPEED2 : ion_energy(st.species[n], v2));
                    break;
                case WEIGHT: put_f64(std::fabs(st.w[n]) / ELECTRON_CHARGE); break;
            }
        }
    }
}

void write_particles(int step, double t, const char* name) {
    const std::uint64_t points = static_cast<std::uint64_t>(PARTICLE_STORAGE::live_count(PARTICLE_STORAGE::ions)) +
                                 static_cast<std::uint64_t>(PARTICLE_STORAGE::live_count(PARTICLE_STORAGE::electrons));
    const std::uint64_t verts = points > 0 ? 1 : 0;  // one poly-vertex holds them all
    open_file(name);
    begin_document("PolyData");
    std::fprintf(out, "  <PolyData>\n");
    field_data(step, t);
    std::fprintf(out, "    <Piece NumberOfPoints=\"%llu\" NumberOfVerts=\"%llu\" NumberOfLines=\"0\" NumberOfStrips=\"0\" NumberOfPolys=\"0\">\n",
                 static_cast<unsigned long long>(points), static_cast<unsigned long long>(verts));
    std::uint64_t offset = 0;
    std::fprintf(out, "      <PointData Scalars=\"kind (0 e, 1 Ne+, 2 Xe+)\" Vectors=\"velocity (cm/s)\">\n");
    declare("Int32", "kind (0 e, 1 Ne+, 2 Xe+)", 1, points, 4, offset);
    declare("Int32", "electron origin (0 seed or wall, 1 Ne, 2 Xe; -1 ion)", 1, points, 4, offset);
    declare("Float64", "velocity (cm/s)", 3, points, 8, offset);
    declare("Float64", "energy (eV)", 1, points, 8, offset);
    declare("Float64", "weight (particles per record)", 1, points, 8, offset);
    std::fprintf(out, "      </PointData>\n      <Points>\n");
    declare("Float64", "position (um)", 3, points, 8, offset);
    std::fprintf(out, "      </Points>\n      <Verts>\n");
    declare("Int32", "connectivity", 1, points, 4, offset);
    declare("Int32", "offsets", 1, verts, 4, offset);
    std::fprintf(out, "      </Verts>\n    </Piece>\n  </PolyData>\n");
    begin_appended_data();

    put_block_length(4 * points);
    put_column(KIND);
    put_block_length(4 * points);
    put_column(ORIGIN);
    put_block_length(3 * 8 * points);
    put_column(VELOCITY);
    put_block_length(8 * points);
    put_column(ENERGY);
    put_block_length(8 * points);
    put_column(WEIGHT);
    put_block_length(3 * 8 * points);
    put_column(POSITION);
    put_block_length(4 * points);
    for (std::uint64_t p = 0; p < points; ++p) put_i32(static_cast<std::int32_t>(p));
    put_block_length(4 * verts);
    if (verts > 0) put_i32(static_cast<std::int32_t>(points));
    end_document();
    finish_file();
}

// ---- Collections ----

void write_collection(const char* kind, const char* extension) {
    char name[32];
    std::snprintf(name, sizeof name, "%s.pvd", kind);
    open_file(name);
    std::fprintf(out, "<?xml version=\"1.0\"?>\n"
                      "<VTKFile type=\"Collection\" version=\"0.1\" byte_order=\"LittleEndian\">\n"
                      "  <Collection>\n");
    for (int w = 0; w < write_count; ++w)
        std::fprintf(out, "    <DataSet timestep=\"%.12g\" group=\"\" part=\"0\" file=\"%s_%07d.%s\"/>\n",
                     written_time[w] * NS_PER_S, kind, written_step[w], extension);
    std::fprintf(out, "  </Collection>\n</VTKFile>\n");
    finish_file();
}

void save_densities() {
    std::memcpy(kept_ion_density, ion_density, sizeof kept_ion_density);
    std::memcpy(kept_electron_density, electron_density, sizeof kept_electron_density);
    std::memcpy(kept_electron_energy, electron_energy, sizeof kept_electron_energy);
}

void restore_densities() {
    std::memcpy(ion_density, kept_ion_density, sizeof kept_ion_density);
    std::memcpy(electron_density, kept_electron_density, sizeof kept_electron_density);
    std::memcpy(electron_energy, kept_electron_energy, sizeof kept_electron_energy);
}

}  // namespace

void node_field(int i, int j, int k, double& Ex, double& Ey, double& Ez) {
    Ex = Ey = Ez = 0.0;
    if (!is_gas(i, j, k)) return;
    interpolate_field((i + 0.5) * dx, (j + 0.5) * dy, (k + 0.5) * dz, Ex, Ey, Ez);
}

void write_state(int step, double t, bool densities_current) {
    if (write_count == MAX_WRITES) pdp::fatal("ERROR: too many 3D writes for one run");
    prepare_folder();
    if (!densities_current) {
        // The arrays hold an earlier step's densities, which the console
        // diagnostics go on printing: accumulate this step's, then put those back.
        save_densities();
        densities::accumulate_densities();
    }
    char name[32];
    std::snprintf(name, sizeof name, "fields_%07d.vti", step);
    write_fields(step, t, name);
    std::snprintf(name, sizeof name, "walls_%07d.vtp", step);
    write_walls(step, t, name);
    std::snprintf(name, sizeof name, "particles_%07d.vtp", step);
    write_particles(step, t, name);
    if (!densities_current) restore_densities();

    written_step[write_count] = step;
    written_time[write_count] = t;
    ++write_count;
    write_collection("fields", "vti");
    write_collection("walls", "vtp");
    write_collection("particles", "vtp");
}

void continue_collections(int step) {
    write_count = 0;
    // The collection of the fields lists the writes; the other two follow it.
    std::FILE* in = std::fopen("vtk/fields.pvd", "r");
    if (in != nullptr) {
        char line[512];
        while (std::fgets(line, sizeof line, in) != nullptr && write_count < MAX_WRITES) {
            double time_ns = 0.0;
            int listed = 0;
            const char* entry = std::strstr(line, "<DataSet timestep=\"");
            const char* file = std::strstr(line, "file=\"fields_");
            if (entry == nullptr || file == nullptr || std::sscanf(entry, "<DataSet timestep=\"%lf\"", &time_ns) != 1 ||
                std::sscanf(file, "file=\"fields_%d.vti\"", &listed) != 1)
                continue;
            if (listed >= step || !std::isfinite(time_ns)) continue;
            written_step[write_count] = listed;
            written_time[write_count] = time_ns / NS_PER_S;
            ++write_count;
        }
        std::fclose(in);
    }
    // Files of the stretch after the checkpoint that the saved run went on
    // to write are of a history that no longer happened.
    std::error_code ec;
    if (!std::filesystem::is_directory("vtk", ec)) return;
    bool removed = false;
    for (const auto& item : std::filesystem::directory_iterator("vtk", ec)) {
        const std::string name = item.path().filename().string();
        int listed = 0;
        char kind[16] = {0}, extension[8] = {0};
        if (std::sscanf(name.c_str(), "%15[a-z]_%d.%7s", kind, &listed, extension) != 3) continue;
        const std::string k = kind;
        if ((k == "fields" || k == "walls" || k == "particles") && listed >= step) {
            std::filesystem::remove(item.path(), ec);
            removed = true;
        }
    }
    if (removed) {
        folder_ready = true;
        write_collection("fields", "vti");
        write_collection("walls", "vtp");
        write_collection("particles", "vtp");
    }
}

void write_state_if_due(int step, double t, int every, bool densities_current) {
    if (write_count == 0 || (step - 1) % every == 0) write_state(step, t, densities_current);
}

void reset() {
    write_count = 0;
    folder_ready = false;
    if (out != nullptr) std::fclose(out);
    out = nullptr;
    chunk_used = 0;
}

}  // namespace vtk_output
