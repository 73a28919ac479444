// Engine lifecycle and the block loop.
//
// engine_process runs on the audio thread: no allocation, no lock, no system
// call. It cuts each block at the LFO ticks; within a segment every
// coefficient is constant, so they are computed once per segment, and the
// chain runs four samples at a time: the recursive stages (input high-pass,
// state-variable filter, gain, output low-pass) sample by sample, the soft
// clipper on all four lanes at once, then the output high-pass. Each stage
// still sees its samples in order with the same operations as the plain
// per-sample evaluation, so the output is bit for bit the same; keeping the
// independent recursions in one loop lets the processor overlap them.
#include "engine.h"

#include "filter.h"

namespace vexo {

void engine_init(Engine* e) {
    *e = Engine{};
    e->shaper_bias = bits_float(0x4080aba5u);  // 0.026 * fast_omega(159.69313)
    e->fc_register = 0.0f;
    e->cutoff_base = 248;
    e->lfo_amt_reg = 0;
    e->lfo_speed_reg = 7;
    e->param_values[kParamCutoff] = 15.0f;
    e->param_values[kParamLfoAmt] = 0.0f;
    e->param_values[kParamLfoSpeed] = 7.0f;
    e->sample_rate = 0.0f;
    e->tick_period = 1;
}

// Samples per tick: fs * 0.01 rounded half away from zero. Rates below 50 Hz
// would give 0, with which the block loop could not advance: one sample per
// tick is the least.
static uint32_t tick_period_for(float fs) {
    float ticks = fs * 0.01f;
    if (!(ticks >= 0.5f)) return 1;
    if (!(ticks < 4294967040.0f)) return 4294967040u;
    uint32_t whole = static_cast<uint32_t>(ticks);
    if (ticks - static_cast<float>(whole) >= 0.5f) ++whole;
    return whole;
}

void engine_set_sample_rate(Engine* e, float fs) {
    e->sample_rate = fs;
    e->pi_over_fs = 3.1415927f / fs;
    e->prewarp_max = 0.499f * fs;
    e->tick_period = tick_period_for(fs);
    float in_state = e->in_hp.state;
    float lp_state = e->out_lp.state;
    float hp_state = e->out_hp.state;
    e->in_hp = first_order_design(kInHpHz, fs, e->prewarp_max, true);
    e->out_lp = first_order_design(kOutLpHz, fs, e->prewarp_max, false);
    e->out_hp = first_order_design(kOutHpHz, fs, e->prewarp_max, true);
    // A new rate changes coefficients only; the signal state is reset's.
    e->in_hp.state = in_state;
    e->out_lp.state = lp_state;
    e->out_hp.state = hp_state;
}

void engine_reset(Engine* e) {
    e->in_hp.state = 0.0f;
    e->out_lp.state = 0.0f;
    e->out_hp.state = 0.0f;
    e->svf_hp = 0.0f;
    e->svf_lp = 0.0f;
    e->svf_bp = 0.0f;
    e->fc_hz = register_to_hz(e->fc_register);
    e->q = resonance_q();
    e->ref_fc = e->fc_hz;
    e->tick_countdown = 0;
    e->lfo_phase = 0;
    e->cutoff_mod = e->cutoff_base;
}

// Integer part of a parameter value kept to 8 bits. Values outside the 32-bit
// range and NaN convert as the processor does (to 0x80000000, low byte 0);
// written out so that no input is undefined behaviour.
static uint8_t register_byte(float value) {
    return static_cast<uint8_t>(static_cast<uint32_t>(truncate_to_i32(value)) & 0xffu);
}

void engine_set_parameter(Engine* e, uint32_t index, float value) {
    switch (index) {
        case kParamCutoff:
            e->param_values[index] = value;
            e->cutoff_base = static_cast<uint8_t>(register_byte(value) * 16u + 8u);
            break;
        case kParamLfoAmt:
            e->param_values[index] = value;
            e->lfo_amt_reg = register_byte(value);
            break;
        case kParamLfoSpeed:
            e->param_values[index] = value;
            e->lfo_speed_reg = register_byte(value);
            break;
        default:
            break;
    }
}

float engine_get_parameter(const Engine* e, uint32_t index) {
    if (index < kInputParamCount) return e->param_values[index];
    if (index == kParamCutoffMod) return static_cast<float>(e->cutoff_mod);
    return 0.0f;
}

float engine_sample_rate(const Engine* e) { return e->sample_rate; }

// Runs the whole chain over m samples with constant coefficients.
static void process_segment(Engine* e, const float* in, float* out, uint32_t m) {
    e->fc_hz = register_to_hz(e->fc_register);
    e->q = resonance_q();
    const SvfCoeffs c = svf_coeffs(e->fc_hz, e->q, e->ref_fc, e->pi_over_fs, e->prewarp_max, e->sample_rate);

    // Locals so that the compiler keeps the states in registers: the audio
    // buffers could otherwise alias the Engine.
    FirstOrder in_hp = e->in_hp;
    FirstOrder out_lp = e->out_lp;
    FirstOrder out_hp = e->out_hp;
    float hp = e->svf_hp;
    float bp = e->svf_bp;
    float lp = e->svf_lp;
    const __m128 shaper_scale = _mm_set1_ps(kShaperInScale);
    const __m128 shaper_offset = _mm_set1_ps(kShaperInOffset);
    const __m128 shaper_out = _mm_set1_ps(kShaperOutScale);
    const __m128 shaper_bias = _mm_set1_ps(e->shaper_bias);

    for (uint32_t i = 0; i < m; i += 4) {
        const uint32_t lanes = m - i < 4 ? m - i : 4;
        alignas(16) float y[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        for (uint32_t j = 0; j < lanes; ++j) {
            float x = first_order_step(in_hp, in[i + j]);
            float s1 = c.gz * hp + bp;
            float s2 = c.gz * bp + lp;
            hp = ((x * kInputScale - c.kg * s1) - s2) * c.d;
            bp = c.g * hp + s1;
            lp = c.g * bp + s2;
            y[j] = first_order_step(out_lp, -bp * kOutputGain);
        }
        // Soft clipper on four lanes; unused lanes hold 0 and are discarded.
        __m128 v = _mm_add_ps(_mm_mul_ps(_mm_load_ps(y), shaper_scale), shaper_offset);
        v = _mm_sub_ps(_mm_mul_ps(fast_omega4(v), shaper_out), shaper_bias);
        _mm_store_ps(y, v);
        for (uint32_t j = 0; j < lanes; ++j) out[i + j] = first_order_step(out_hp, y[j]);
    }

    e->in_hp = in_hp;
    e->out_lp = out_lp;
    e->out_hp = out_hp;
    e->svf_hp = hp;
    e->svf_bp = bp;
    e->svf_lp = lp;
}

void engine_process(Engine* e, const float* input, float* output, uint32_t n) {
    uint32_t pos = 0;
    while (pos < n) {
        if (e->tick_countdown == 0) lfo_tick(e);
        uint32_t m = n - pos < e->tick_countdown ? n - pos : e->tick_countdown;
        process_segment(e, input + pos, output + pos, m);
        e->tick_countdown -= m;
        pos += m;
    }
}

}  // namespace vexo
