// The LFO's constant tables: phase step per speed setting, the sixteen signed
// sine tables (one per depth) and the 256-entry cutoff curve that turns the
// 8-bit modulated cutoff into a cutoff register value (0..2047 scale).
//
// The sine tables are generated at compile time from their rule, so the data
// in the module is constant and identical on every build.
#pragma once

#include <array>
#include <cstdint>

namespace vexo {

constexpr std::array<uint8_t, 16> kLfoSpeedSteps = {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 16, 21, 28, 37, 49, 64};

extern const std::array<uint16_t, 256> kCutoffCurve;

namespace lfo_detail {

// sin(x) for |x| <= pi, by its Taylor series in double precision: terms up to
// x^31 keep the error far below what rounding to whole table entries needs.
constexpr double sine(double x) {
    double term = x;
    double sum = x;
    for (int k = 1; k < 16; ++k) {
        term = -term * x * x / static_cast<double>((2 * k) * (2 * k + 1));
        sum += term;
    }
    return sum;
}

constexpr double kPi = 3.14159265358979323846;

// Entry i of table a: 127 * a / 15 * sin(2 pi (i + 1) / 256), rounded half
// away from zero. The i + 1 puts the positive peak at entry 63 and the end of
// the turn at entry 255.
constexpr int8_t sine_entry(int a, int i) {
    int k = (i + 1) % 256;                 // angle 2 pi k / 256, brought into -pi..pi
    if (k > 128) k -= 256;
    double v = 127.0 * a / 15.0 * sine(2.0 * kPi * k / 256.0);
    long r = v >= 0.0 ? static_cast<long>(v + 0.5) : -static_cast<long>(-v + 0.5);
    return static_cast<int8_t>(r);
}

constexpr std::array<std::array<int8_t, 256>, 16> make_sine_tables() {
    std::array<std::array<int8_t, 256>, 16> t{};
    for (int a = 0; a < 16; ++a)
        for (int i = 0; i < 256; ++i) t[a][i] = sine_entry(a, i);
    return t;
}

}  // namespace lfo_detail

constexpr std::array<std::array<int8_t, 256>, 16> kLfoSineTables = lfo_detail::make_sine_tables();

}  // namespace vexo
