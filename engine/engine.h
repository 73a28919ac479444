// The filter engine: all DSP state of one plug-in instance and the seven
// operations that both plug-in formats drive it with.
//
// An Engine is a plain value: no heap memory, no threads, no locks, no calls
// to the operating system. It checks none of its inputs; the API layers snap
// parameter values and keep the calling order (init, set_sample_rate, reset,
// then process). engine_process is the audio path: it allocates nothing,
// takes no lock and makes no system call.
#pragma once

#include <cstdint>

#include "params.h"

namespace vexo {

// One first-order section in transposed direct form II.
struct FirstOrder {
    float b0;
    float b1;
    float a1;
    float state;
};

struct Engine {
    float shaper_bias;   // soft clipper output offset: 0 in gives exactly 0 out
    float pi_over_fs;    // pi / sample rate
    float prewarp_max;   // 0.499 * sample rate: highest prewarp frequency
    float fc_hz;         // state-variable filter cutoff of the current segment
    float q;             // its quality factor
    float fc_register;   // cutoff register (0..2047 scale) from the last LFO tick
    float svf_hp;        // state-variable filter outputs of the previous sample
    float svf_lp;
    float svf_bp;
    float ref_fc;        // reference cutoff in Hz, taken at reset
    uint32_t tick_period;  // samples per LFO tick, at least 1
    FirstOrder in_hp;    // input high-pass, 4.314194 Hz
    FirstOrder out_lp;   // output low-pass, 15915.494 Hz
    FirstOrder out_hp;   // output high-pass, 1 Hz
    uint32_t tick_countdown;  // samples left until the next LFO tick
    uint8_t lfo_phase;        // one turn = 256
    uint8_t cutoff_mod;       // 8-bit cutoff after modulation: the output parameter
    uint8_t cutoff_base;      // from cutoff: 16 * step + 8
    uint8_t lfo_amt_reg;      // from lfo_amt: which sine table
    uint8_t lfo_speed_reg;    // from lfo_speed: which phase step
    float param_values[kInputParamCount];  // cutoff, lfo_amt, lfo_speed
    float sample_rate;
    // State-variable filter coefficients for the current tick: they change
    // only when a tick moves the cutoff, so the block loop computes them
    // once per tick instead of once per call (hosts may call with single
    // samples).
    float svf_g;   // integrator gain
    float svf_gz;  // gain that updates the integrator states, from ref_fc
    float svf_kg;  // damping plus g
    float svf_d;   // 1 / (g kg + 1)
};

void engine_init(Engine* e);
void engine_set_sample_rate(Engine* e, float sample_rate_hz);
void engine_reset(Engine* e);
void engine_set_parameter(Engine* e, uint32_t index, float value);
float engine_get_parameter(const Engine* e, uint32_t index);
float engine_sample_rate(const Engine* e);
void engine_process(Engine* e, const float* input, float* output, uint32_t n);

}  // namespace vexo
