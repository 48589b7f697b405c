// The electron pass of the parallel mode: every electron draws from its own
// stream, so its history depends on its identity and draws so far, not on the
// electrons around it or on the thread that moved it; newborns are moved to
// the end of the step in later rounds.
#include "electrons/electron_mover.hpp"

#include "electron_test_support.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/pass_output.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

using namespace electron_test;
using PARTICLE_STORAGE::Particle;
using PARTICLE_STORAGE::electrons;
using PARTICLE_STORAGE::ions;

namespace {

constexpr double T_END = 1e-10;  // s, one step

struct Record {
    Particle p;
    std::uint64_t id, draws;
};

struct ParallelElectronPass : testing::Test {
    void SetUp() override { reset_world(); }
    void TearDown() override {
        parallel_mode::reset();
        PARTICLE_STORAGE::reset();
    }
    // A field that drives the electrons to ionize (about 30 eV over a few
    // cells) and population `n` spread over the box, identities 1000 + k.
    static std::vector<Record> population(int n) {
        std::mt19937_64 rng(7);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<Record> out;
        for (int k = 0; k < n; ++k) {
            const double speed = speed_of(5.0 + 30.0 * u(rng));
            const double c = 2 * u(rng) - 1, s = std::sqrt(1 - c * c), phi = 6.283185307179586 * u(rng);
            out.push_back({{-mesh::ELECTRON_CHARGE, 0.0, 0.004 + 0.006 * u(rng), 0.01 + 0.05 * u(rng),
                            0.003 + 0.006 * u(rng), speed * s * std::cos(phi), speed * s * std::sin(phi), speed * c, 0},
                           1000u + static_cast<std::uint64_t>(k), 0});
        }
        return out;
    }
    static void start(int threads, const std::vector<Record>& records) {
        PARTICLE_STORAGE::reset();
        electron_mover::reset();
        std::fill(mesh::wall_charge_x, mesh::wall_charge_x + mesh::PADDED_COUNT, 0.0);
        std::fill(mesh::wall_charge_z, mesh::wall_charge_z + mesh::PADDED_COUNT, 0.0);
        parallel_mode::configure(true, threads, 1100, 550);
        fill_uniform_field(3e4, 0.0, 0.0);
        pass_first_call();
        for (const Record& r : records) PARTICLE_STORAGE::add_record(electrons, r.p, r.id, r.draws);
    }
    static std::vector<Record> records_of(const PARTICLE_STORAGE::Store& s) {
        std::vector<Record> out;
        for (int slot = 1; slot <= s.count; ++slot) {
            Particle p;
            PARTICLE_STORAGE::get_slot(s, slot, p);
            out.push_back({p, s.id[slot], s.draws[slot]});
        }
        return out;
    }
};

bool same_bits(const Particle& a, const Particle& b) {
    const double fa[8] = {a.w, a.t, a.x, a.y, a.z, a.vx, a.vy, a.vz};
    const double fb[8] = {b.w, b.t, b.x, b.y, b.z, b.vx, b.vy, b.vz};
    return std::memcmp(fa, fb, sizeof fa) == 0 && a.species == b.species;
}

const Record* find(const std::vector<Record>& records, std::uint64_t id) {
    for (const Record& r : records)
        if (r.id == id) return &r;
    return nullptr;
}

}  // namespace

// One, two and five threads give the same stores, wall charge and counters,
// bit for bit, over several steps with ionizations, absorptions and several
// rounds of newborns; and the run's generator is never touched.
TEST_F(ParallelElectronPass, StoresWallChargeAndCountersDoNotDependOnTheThreads) {
    const std::vector<Record> start_records = population(400);
    std::vector<Record> reference_electrons, reference_ions;
    std::vector<double> reference_walls;
    long long reference_flights = 0;
    for (int threads : {1, 2, 5}) {
        start(threads, start_records);
        std::int32_t s1, s2;
        random_numbers::get_seed(s1, s2);
        for (int step = 1; step <= 2; ++step) electron_mover::advance_electrons(step * T_END);
        std::int32_t a1, a2;
        random_numbers::get_seed(a1, a2);
        EXPECT_TRUE(a1 == s1 && a2 == s2) << "the run's generator was drawn from";
        const std::vector<Record> e = records_of(electrons), i = records_of(ions);
        std::vector<double> walls(mesh::wall_charge_x, mesh::wall_charge_x + mesh::PADDED_COUNT);
        walls.insert(walls.end(), mesh::wall_charge_z, mesh::wall_charge_z + mesh::PADDED_COUNT);
        if (threads == 1) {
            // The case is worth its name: births, several rounds, walls.
            ASSERT_GT(i.size(), 100u);
            ASSERT_GT(e.size(), 20u);
            double wall_total = 0.0;
            for (double w : walls) wall_total += w;
            ASSERT_LT(wall_total, 0.0);
            reference_electrons = e, reference_ions = i, reference_walls = walls;
            reference_flights = electron_mover::flight_count;
            continue;
        }
        ASSERT_EQ(e.size(), reference_electrons.size()) << threads << " threads";
        ASSERT_EQ(i.size(), reference_ions.size()) << threads << " threads";
        for (std::size_t n = 0; n < e.size(); ++n) {
            ASSERT_TRUE(same_bits(e[n].p, reference_electrons[n].p)) << "electron slot " << n + 1;
            ASSERT_EQ(e[n].id, reference_electrons[n].id);
            ASSERT_EQ(e[n].draws, reference_electrons[n].draws);
        }
        for (std::size_t n = 0; n < i.size(); ++n) ASSERT_TRUE(same_bits(i[n].p, reference_ions[n].p));
        EXPECT_EQ(std::memcmp(walls.data(), reference_walls.data(), walls.size() * sizeof(double)), 0);
        EXPECT_EQ(electron_mover::flight_count, reference_flights);
    }
}

// An electron's step is a function of itself alone: moved among 600 others or
// alone in the store, it ends in the same state with the same draws. Every
// survivor, newborns included, reaches the end of the step.
TEST_F(ParallelElectronPass, AnElectronsStepDependsOnItselfAloneAndNewbornsReachTheStepEnd) {
    const std::vector<Record> crowd = population(600);
    start(2, crowd);
    electron_mover::advance_electrons(T_END);
    const std::vector<Record> together = records_of(electrons);
    int newborns = 0;
    for (const Record& r : together) {
        EXPECT_NEAR(r.p.t, T_END, 1e-24);  // the sub-steps' sum, not a birth time
        if (r.id < 1000 || r.id >= 1600) ++newborns;
    }
    ASSERT_GT(newborns, 20);
    for (int k : {0, 17, 301, 599}) {
        start(1, {crowd[static_cast<std::size_t>(k)]});
        electron_mover::advance_electrons(T_END);
        const std::vector<Record> alone = records_of(electrons);
        const Record* in_crowd = find(together, crowd[static_cast<std::size_t>(k)].id);
        const Record* on_its_own = find(alone, crowd[static_cast<std::size_t>(k)].id);
        ASSERT_EQ(in_crowd == nullptr, on_its_own == nullptr) << "electron " << k;
        if (in_crowd == nullptr) continue;  // absorbed both times
        EXPECT_TRUE(same_bits(in_crowd->p, on_its_own->p)) << "electron " << k;
        EXPECT_EQ(in_crowd->draws, on_its_own->draws) << "electron " << k;
        EXPECT_GT(on_its_own->draws, 0u);
    }
}

// Each step of an electron draws on in its own stream from where its last
// step stopped: a record holding the state and draws after the first step
// takes the second step exactly as the electron did, while the same state
// with no draws behind it, which replays the first step's numbers, ends
// elsewhere.
TEST_F(ParallelElectronPass, SuccessiveStepsOfAnElectronDrawOnInItsStream) {
    // 5 eV in the middle of a field-free gas box: it stays in the gas.
    const double v = speed_of(5.0) / std::sqrt(3.0);
    const Record first{{-mesh::ELECTRON_CHARGE, 0.0, 0.007, 0.035, 0.006, v, -v, v, 0}, 1000, 0};
    const auto step_alone = [](const Record& r, double t_end) {
        start(1, {r});
        fill_uniform_field(0.0, 0.0, 0.0);
        electron_mover::advance_electrons(t_end);
        const std::vector<Record> records = records_of(electrons);
        const Record* moved = find(records, r.id);
        return moved != nullptr ? *moved : Record{};
    };
    const Record after_one = step_alone(first, T_END);
    ASSERT_EQ(after_one.id, first.id);
    ASSERT_NEAR(after_one.p.t, T_END, 1e-24);
    electron_mover::advance_electrons(2 * T_END);
    const std::vector<Record> records = records_of(electrons);
    ASSERT_NE(find(records, first.id), nullptr);
    const Record after_two = *find(records, first.id);
    EXPECT_GT(after_two.draws, after_one.draws);

    const Record resumed = step_alone(after_one, 2 * T_END);
    EXPECT_TRUE(same_bits(resumed.p, after_two.p));
    EXPECT_EQ(resumed.draws, after_two.draws);
    const Record replayed = step_alone({after_one.p, first.id, 0}, 2 * T_END);
    ASSERT_EQ(replayed.id, first.id);
    EXPECT_FALSE(same_bits(replayed.p, after_two.p)) << "the second step drew the first step's numbers again";
}

// The parallel mode draws its free flights under a bound that follows the
// electron's energy and cuts a flight where the energy leaves its band. A
// swarm at 100 Td, started at rest, passes through most bands within the
// time; it must reach the same mean energy and give birth to the same number
// of ions as in the exact mode under the one bound numax, within their
// statistical errors, in first-order and in leapfrog flights. A bound below
// some process's frequency, or a cut in the wrong place, shows here as a
// hotter or a colder swarm. In the uniform field every push turns the
// field's work into kinetic energy exactly, cut sub-steps included: the
// tally's work is the field times the charge's displacement, each newborn
// counted from where it was born with its ion.
TEST_F(ParallelElectronPass, EnergyBandsGiveTheSwarmOfTheOneBound) {
    struct Swarm {
        double mean_energy, energy_error;  // eV
        double ions;
        long long flights;
        double work, field_work;  // J
    };
    constexpr double EY = -1.143456e4;  // V/cm: 100 Td, electrons drift along +y
    const auto swarm = [](bool parallel, bool leapfrog) {
        reset_world();
        remove_walls();
        parallel_mode::configure(parallel, 2, 1100, 550);
        electron_mover::set_leapfrog(leapfrog);
        fill_uniform_field(0.0, EY, 0.0);
        pass_first_call();
        const int count = 1000;
        for (int n = 0; n < count; ++n)
            PARTICLE_STORAGE::add_record(electrons, {-mesh::ELECTRON_CHARGE, 0.0, 0.005, 0.02, 0.005, 0.0, 0.0, 0.0, 0},
                                         1000u + static_cast<std::uint64_t>(n), 0);
        pass_output::take_tally();
        const long long flights_before = electron_mover::flight_count;
        for (int step = 1; step <= 3; ++step) electron_mover::advance_electrons(step * T_END);
        double sum = 0, sum2 = 0, displacement = -count * 0.02;  // cm, summed over the electrons
        for (int slot = 1; slot <= electrons.count; ++slot) {
            Particle e;
            PARTICLE_STORAGE::get_slot(electrons, slot, e);
            const double energy = energy_of(e.vx, e.vy, e.vz);
            sum += energy;
            sum2 += energy * energy;
            displacement += e.y;
        }
        for (int slot = 1; slot <= ions.count; ++slot) displacement -= ions.y[slot];
        const double n = electrons.count;
        const double mean = sum / n;
        return Swarm{mean, std::sqrt((sum2 / n - mean * mean) / (n - 1)), static_cast<double>(ions.count),
                     electron_mover::flight_count - flights_before, pass_output::take_tally().electron_work,
                     -mesh::ELECTRON_CHARGE * EY * displacement};
    };
    const Swarm exact = swarm(false, false);
    for (bool leapfrog : {false, true}) {
        const Swarm banded = swarm(true, leapfrog);
        parallel_mode::reset();
        electron_mover::set_leapfrog(false);

        ASSERT_GT(exact.ions, 300);  // the swarm ionizes: it reached the high bands
        EXPECT_NEAR(banded.mean_energy, exact.mean_energy, 4 * std::hypot(banded.energy_error, exact.energy_error))
            << "leapfrog " << leapfrog;
        EXPECT_LT(banded.energy_error, 0.05 * exact.mean_energy);
        // Ions in a cascade: the spread is wider than Poisson's, so 5 sigma of it.
        EXPECT_NEAR(banded.ions, exact.ions, 5 * std::sqrt(exact.ions + banded.ions)) << "leapfrog " << leapfrog;
        // And the point of the bands: well under half the free flights.
        EXPECT_LT(banded.flights, exact.flights / 2);
        EXPECT_GT(banded.work, 0.0);
        EXPECT_NEAR(banded.work, banded.field_work, 1e-9 * banded.work) << "leapfrog " << leapfrog;
    }
    EXPECT_NEAR(exact.work, exact.field_work, 1e-9 * exact.work);
}
