#include "input/electrode_voltages.hpp"

#include "input/voltage_file.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using electrodes::electrode_voltage;
using electrodes::update_electrode_voltages;

namespace {

constexpr double DT = 2e-10;  // does not enter the result

// Applied-voltage table: times and one row of voltages per time.
void set_table(const std::vector<double>& times, const std::vector<std::vector<double>>& rows) {
    using namespace voltage_file;
    n_electrodes = static_cast<int>(rows[0].size());
    NDATAVMAX = static_cast<int>(times.size());
    voltage_time = times;
    voltage_table.clear();
    for (const auto& row : rows) voltage_table.insert(voltage_table.end(), row.begin(), row.end());
}

class ElectrodeVoltages : public ::testing::Test {
protected:
    void SetUp() override {
        voltage_file::reset();
        electrodes::reset();
    }
    void TearDown() override { SetUp(); }
};

// One electrode, 0 V from 0 to 10 us, so only the added waves show.
void flat_table() { set_table({0.0, 1e-5}, {{0.0}, {0.0}}); }

}  // namespace

TEST_F(ElectrodeVoltages, InterpolatesTheTableAndKeepsValuesOutsideIt) {
    set_table({1e-7, 2e-7, 2e-7, 4e-7}, {{0.0, 10.0}, {100.0, 10.0}, {40.0, 10.0}, {80.0, 50.0}});
    electrode_voltage[1] = 7.0;  // start-up value
    electrode_voltage[2] = -7.0;
    electrode_voltage[3] = 33.0;  // beyond n_electrodes: never written

    update_electrode_voltages(5e-8, DT);  // before the first row
    EXPECT_EQ(electrode_voltage[1], 7.0);
    EXPECT_EQ(electrode_voltage[2], -7.0);

    update_electrode_voltages(1e-7, DT);  // at a row time: the row itself
    EXPECT_EQ(electrode_voltage[1], 0.0);
    EXPECT_EQ(electrode_voltage[2], 10.0);

    update_electrode_voltages(1.5e-7, DT);
    EXPECT_NEAR(electrode_voltage[1], 50.0, 1e-9);
    EXPECT_EQ(electrode_voltage[2], 10.0);

    // Equal times: the zero-length interval is skipped; just before it the
    // left value is approached, at it the right value holds.
    update_electrode_voltages(std::nextafter(2e-7, 0.0), DT);
    EXPECT_NEAR(electrode_voltage[1], 100.0, 1e-6);
    update_electrode_voltages(2e-7, DT);
    EXPECT_EQ(electrode_voltage[1], 40.0);

    update_electrode_voltages(3e-7, DT);
    EXPECT_NEAR(electrode_voltage[1], 60.0, 1e-9);
    EXPECT_NEAR(electrode_voltage[2], 30.0, 1e-9);

    update_electrode_voltages(4e-7, DT);  // the last row time gives the last row
    EXPECT_EQ(electrode_voltage[1], 80.0);
    EXPECT_EQ(electrode_voltage[2], 50.0);

    electrode_voltage[1] = 123.0;
    update_electrode_voltages(5e-7, DT);  // after the table: unchanged
    EXPECT_EQ(electrode_voltage[1], 123.0);
    EXPECT_EQ(electrode_voltage[3], 33.0);
}

TEST_F(ElectrodeVoltages, SineDecaysFromItsWindowStart) {
    using namespace voltage_file;
    flat_table();
    sin_flag = 1;
    sin_t_start = 1e-7;
    sin_t_end = 2e-6;
    sin_tau = 1e-6;
    sin_amplitude[1] = 10.0;
    sin_period[1] = 1e-6;

    // 10·exp(-0.25)·sin(0.7π)
    update_electrode_voltages(3.5e-7, DT);
    EXPECT_NEAR(electrode_voltage[1], 6.300630687372834, 1e-9);

    // A shift of a quarter period puts the crest at 0.5 us: 10·exp(-0.4).
    sin_shift[1] = 2.5e-7;
    update_electrode_voltages(5e-7, DT);
    EXPECT_NEAR(electrode_voltage[1], 6.703200460356394, 1e-9);

    // Nothing at the window ends or outside.
    for (double t : {1e-7, 2e-6, 5e-8, 3e-6}) {
        update_electrode_voltages(t, DT);
        EXPECT_EQ(electrode_voltage[1], 0.0) << "t = " << t;
    }

    // Long before a window with a short decay time the exponential
    // overflows; outside the window that must still add nothing.
    sin_t_start = 9e-6;
    sin_t_end = 1e-5;
    sin_tau = 1e-10;
    update_electrode_voltages(1e-7, DT);
    EXPECT_EQ(electrode_voltage[1], 0.0);

    // A window of zero length never adds anything.
    sin_t_end = sin_t_start;
    update_electrode_voltages(1e-7, DT);
    EXPECT_EQ(electrode_voltage[1], 0.0);
}

TEST_F(ElectrodeVoltages, MeanderSwitchesLevelsAfterTheDutyFraction) {
    using namespace voltage_file;
    flat_table();
    meander_flag = 1;
    meander_t_start = 0.0;
    meander_t_end = 1e-5;
    meander_tau = 1e-5;
    Vlow[1] = 100.0;
    Vhigh[1] = -50.0;
    Ti[1] = 1e-6;
    dutyfactor[1] = 0.25;

    const struct {
        double t, v;
    } cases[] = {
        {1e-7, 99.0049833749168},                          // first level, 100·exp(-0.01)
        {2.5e-7, 97.53099120283326},                       // end of the duty fraction: still the first level
        {std::nextafter(2.5e-7, 1.0), -48.76549560141663},  // just after it: the second level
        {1.1e-6, 89.58341352965282},                       // second period, first level
        {1.6e-6, -42.607189448310564},                     // second period, second level
        {0.0, 0.0},                                        // window start
    };
    for (const auto& c : cases) {
        update_electrode_voltages(c.t, DT);
        EXPECT_NEAR(electrode_voltage[1], c.v, 1e-9) << "t = " << c.t;
    }
}

TEST_F(ElectrodeVoltages, WavesAddToTheInterpolatedValueOnlyInsideTheTable) {
    using namespace voltage_file;
    set_table({1e-7, 1.1e-6}, {{0.0}, {100.0}});
    sin_flag = 1;
    sin_t_start = 0.0;
    sin_t_end = 1e-5;
    sin_tau = 1.0;
    sin_amplitude[1] = 5.0;
    sin_period[1] = 4e-6;  // crest at 1 us
    meander_flag = 1;
    meander_t_start = 0.0;
    meander_t_end = 1e-5;
    meander_tau = 1.0;
    Vlow[1] = 2.0;
    Vhigh[1] = 2.0;
    Ti[1] = 1.0;
    dutyfactor[1] = 0.5;

    // 90 from the table, + (5 + 2) with the slight decay of a 1 s decay time
    update_electrode_voltages(1e-6, DT);
    EXPECT_NEAR(electrode_voltage[1], 90.0 + 7.0 * std::exp(-1e-6), 1e-9);

    // At the last row time the waves add to that row's value, and the
    // result then holds after the table.
    update_electrode_voltages(1.1e-6, DT);
    const double at_end = electrode_voltage[1];
    EXPECT_NEAR(at_end, 100.0 + (5.0 * std::sin(1.1e-6 * 2 * M_PI / 4e-6) + 2.0) * std::exp(-1.1e-6), 1e-9);
    update_electrode_voltages(2e-6, DT);
    EXPECT_EQ(electrode_voltage[1], at_end);

    electrode_voltage[1] = -1.0;
    update_electrode_voltages(5e-8, DT);  // inside both windows but before the table
    EXPECT_EQ(electrode_voltage[1], -1.0);
}
