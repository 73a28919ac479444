// The parameter table: the one list of the plug-in's parameters that every
// layer indexes the same way (engine, LV2 ports, VST3 parameters, editor,
// saved state), and the rule that snaps an outside value to a whole step.
//
// Constant data and pure functions only.
#pragma once

#include <cstdint>

namespace vexo {

enum ParamIndex : uint32_t {
    kParamCutoff = 0,
    kParamLfoAmt = 1,
    kParamLfoSpeed = 2,
    kParamCutoffMod = 3,  // output: the 8-bit cutoff after modulation
    kParamCount = 4,
    kInputParamCount = 3,
};

// The one set flag bit: the parameter moves in whole steps.
constexpr uint32_t kParamFlagInteger = 4;

struct ParamInfo {
    uint32_t index;
    double minimum;
    double maximum;
    double default_value;
    uint32_t flags;
    const char* state_key;  // key in the saved state; null for the output
    bool is_output;
};

extern const ParamInfo kParams[kParamCount];

// Snap and limit: add +-0.5 (a NaN takes the -0.5 branch), truncate toward
// zero, limit to lo..hi. Values too large for any integer and +infinity give
// hi; NaN and -infinity give lo. One rule in two precisions: the VST3 layer
// works in doubles, the LV2 layer and the editor in floats.
float param_snap(float value, float lo, float hi);
double param_snap(double value, double lo, double hi);

// Snap a value for the given table row, in double precision.
double param_snap_row(double value, const ParamInfo& row);

}  // namespace vexo
