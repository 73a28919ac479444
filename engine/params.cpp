// Parameter table and the snapping rule.
#include "params.h"

namespace vexo {

const ParamInfo kParams[kParamCount] = {
    {kParamCutoff, 0.0, 15.0, 15.0, kParamFlagInteger, "cutoff", false},
    {kParamLfoAmt, 0.0, 15.0, 0.0, kParamFlagInteger, "lfo_amt", false},
    {kParamLfoSpeed, 0.0, 15.0, 7.0, kParamFlagInteger, "lfo_speed", false},
    {kParamCutoffMod, 0.0, 255.0, 248.0, kParamFlagInteger, nullptr, true},
};

namespace {

template <typename T>
T snap(T value, T lo, T hi) {
    T biased = value >= T(0) ? value + T(0.5) : value - T(0.5);
    if (biased != biased) return lo;  // NaN
    // Truncation toward zero. Magnitudes of 2^52 and more are whole already
    // (2^23 for floats, a subset), and +-infinity is limited below.
    T whole = biased;
    if (biased > T(-4503599627370496.0) && biased < T(4503599627370496.0))
        whole = static_cast<T>(static_cast<int64_t>(biased));
    if (whole < lo) return lo;
    if (whole > hi) return hi;
    return whole;
}

}  // namespace

float param_snap(float value, float lo, float hi) { return snap(value, lo, hi); }
double param_snap(double value, double lo, double hi) { return snap(value, lo, hi); }

double param_snap_row(double value, const ParamInfo& row) {
    return snap(value, row.minimum, row.maximum);
}

}  // namespace vexo
