// The per-segment pieces of the filter chain that the block loop and the
// straightforward per-sample form share: the first-order section design, the
// state-variable filter coefficients and the LFO tick. Inline and pure apart
// from the Engine fields they name.
#pragma once

#include "engine.h"
#include "fast_math.h"
#include "lfo_tables.h"

namespace vexo {

constexpr float kRegisterStepHz = 6.430967f;
constexpr float kRegisterMin = 1e-6f;
constexpr float kRegisterMax = 2047.0f;
constexpr float kResonance = 15.0f;
constexpr float kInputScale = 0.92871904f;
constexpr float kOutputGain = -1.076752f;
constexpr float kShaperInScale = 38.46154f;
constexpr float kShaperInOffset = 159.69313f;
constexpr float kShaperOutScale = 0.026f;
constexpr float kInHpHz = 4.314194f;
constexpr float kOutLpHz = 15915.494f;
constexpr float kOutHpHz = 1.0f;
// Below this rate the filter can grow without bound when the reference cutoff
// lies far above the current cutoff, so there the reference is limited.
constexpr float kStableRateHz = 16000.0f;

inline float smaller(float a, float b) { return a < b ? a : b; }

// Bilinear one-pole design prewarped at fp = min(fc, 0.499 fs).
inline FirstOrder first_order_design(float fc, float fs, float prewarp_max, bool high_pass) {
    float fp = smaller(fc, prewarp_max);
    float u = ((fp * 3.1415927f) * fast_rcp(fs)) * 0.15915494f;
    float t = fc * fast_tan2pi(u);
    float r = fast_rcp(fp + t);
    FirstOrder s;
    if (high_pass) {
        s.b0 = fp * r;
        s.b1 = -s.b0;
    } else {
        s.b0 = t * r;
        s.b1 = s.b0;
    }
    s.a1 = (t - fp) * r;
    s.state = 0.0f;
    return s;
}

inline float first_order_step(FirstOrder& s, float x) {
    float y = s.b0 * x + s.state;
    s.state = s.b1 * x - s.a1 * y;
    return y;
}

// Cutoff frequency of a register value, limited to the register's range.
inline float register_to_hz(float reg) {
    float c = reg;
    if (c < kRegisterMin) c = kRegisterMin;
    if (c > kRegisterMax) c = kRegisterMax;
    return c * kRegisterStepHz;
}

// Quality factor from the resonance law P(r) = (0.0023695724 r - 0.09443329) r + 1.2542953.
inline float resonance_q() {
    float r = kResonance;
    if (r < 0.0f) r = 0.0f;
    if (r > 15.0f) r = 15.0f;
    return fast_rcp((0.0023695724f * r - 0.09443329f) * r + 1.2542953f);
}

// Coefficients of the state-variable filter; constant between LFO ticks.
struct SvfCoeffs {
    float g;   // integrator gain
    float gz;  // gain used to update the integrator states, from ref_fc
    float kg;  // damping plus g
    float d;   // 1 / (g kg + 1)
};

inline SvfCoeffs svf_coeffs(float fc_hz, float q, float ref_fc, float pi_over_fs, float prewarp_max,
                            float sample_rate) {
    float fp = smaller(fc_hz, prewarp_max);
    float u = (pi_over_fs * fp) * 0.15915494f;
    float p = fast_rcp(fp) * fast_tan2pi(u);
    float ref = ref_fc;
    if (sample_rate < kStableRateHz && ref > fc_hz) ref = fc_hz;
    SvfCoeffs c;
    c.g = fc_hz * p;
    c.gz = p * ref;
    float k = fast_rcp(q);
    c.kg = k + c.g;
    c.d = fast_rcp(c.g * c.kg + 1.0f);
    return c;
}

// The cached coefficients for the given cutoff and Q, from the current
// reference cutoff and sample rate.
inline void svf_cache(Engine* e, float fc_hz, float q) {
    SvfCoeffs c = svf_coeffs(fc_hz, q, e->ref_fc, e->pi_over_fs, e->prewarp_max, e->sample_rate);
    e->svf_g = c.g;
    e->svf_gz = c.gz;
    e->svf_kg = c.kg;
    e->svf_d = c.d;
}

// Cutoff, Q and coefficients from the current cutoff register, reference
// cutoff and sample rate.
inline void svf_update(Engine* e) {
    e->fc_hz = register_to_hz(e->fc_register);
    e->q = resonance_q();
    svf_cache(e, e->fc_hz, e->q);
}

// One LFO tick: advance the phase, add the sine value to the base cutoff,
// limit to 8 bits and look up the cutoff curve. Registers above 15 (only from
// a caller that skipped snapping) are limited so the tables are never
// overrun.
inline void lfo_tick(Engine* e) {
    uint8_t speed = e->lfo_speed_reg > 15 ? 15 : e->lfo_speed_reg;
    uint8_t amt = e->lfo_amt_reg > 15 ? 15 : e->lfo_amt_reg;
    e->lfo_phase = static_cast<uint8_t>(e->lfo_phase + kLfoSpeedSteps[speed]);
    int v = static_cast<int>(e->cutoff_base) + kLfoSineTables[amt][e->lfo_phase];
    if (v <= 0) v = 0;
    if (v >= 255) v = 255;
    e->cutoff_mod = static_cast<uint8_t>(v);
    e->fc_register = static_cast<float>(kCutoffCurve[static_cast<uint32_t>(v)]);
    e->tick_countdown = e->tick_period;
    // The coefficients depend on the cutoff register, which changes only
    // here, and on the reference cutoff and the rate, whose setters refresh
    // the cache themselves.
    svf_update(e);
}

}  // namespace vexo
