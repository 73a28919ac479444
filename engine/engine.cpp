// Engine lifecycle and the block loop.
//
// engine_process runs on the audio thread: no allocation, no lock, no system
// call. It cuts each block at the LFO ticks; between ticks every coefficient
// is constant, so they are computed once per tick. Each segment runs in
// chunks: the recursive stages (input high-pass, state-variable filter,
// gain, output low-pass) sample by sample, then the soft clipper over the
// chunk with packed arithmetic, and the output high-pass of that chunk in the
// same loop as the recursive stages of the next. Each stage still sees its
// samples in order with the same operations as the plain per-sample
// evaluation, so the output is the same bit for bit.
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
    e->tick_period = 1;  // until set_sample_rate; a period of 0 would stall the block loop
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
    svf_cache(e, register_to_hz(e->fc_register), resonance_q());
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
    svf_cache(e, e->fc_hz, e->q);
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

namespace {

// Samples per chunk of the block loop. The soft clipper runs over a whole
// chunk at once; the output high-pass of one chunk runs in the same loop as
// the recursive stages of the next, so the processor overlaps the two
// dependency chains instead of running them one after the other.
constexpr uint32_t kChunk = 32;

// Clipped samples of the last chunk, still waiting for the output high-pass.
struct PendingChunk {
    alignas(16) float samples[kChunk];
    float* out = nullptr;  // where the high-passed samples go
    uint32_t count = 0;
};

// The stages from the input high-pass to the output low-pass for one sample.
struct LinearStages {
    FirstOrder in_hp;
    FirstOrder out_lp;
    float hp, bp, lp;
    float g, gz, kg, d;

    float step(float in) {
        float x = first_order_step(in_hp, in);
        float s1 = gz * hp + bp;
        float s2 = gz * bp + lp;
        hp = ((x * kInputScale - kg * s1) - s2) * d;
        bp = g * hp + s1;
        lp = g * bp + s2;
        return first_order_step(out_lp, -bp * kOutputGain);
    }
};

void finish_pending(PendingChunk& pending, FirstOrder& out_hp, uint32_t from) {
    for (uint32_t i = from; i < pending.count; ++i) pending.out[i] = first_order_step(out_hp, pending.samples[i]);
    pending.count = 0;
}

// Soft clipper: four lanes at a time with packed arithmetic, and the last
// one to three samples with the scalar form, which gives the same bits and
// is shorter when a host calls with single samples.
void clip_chunk(const float* y, uint32_t count, float bias, float* dst) {
    const __m128 in_scale = _mm_set1_ps(kShaperInScale);
    const __m128 in_offset = _mm_set1_ps(kShaperInOffset);
    const __m128 out_scale = _mm_set1_ps(kShaperOutScale);
    const __m128 out_bias = _mm_set1_ps(bias);
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128 v = _mm_add_ps(_mm_mul_ps(_mm_loadu_ps(y + i), in_scale), in_offset);
        v = _mm_sub_ps(_mm_mul_ps(fast_omega4(v), out_scale), out_bias);
        _mm_storeu_ps(dst + i, v);
    }
    for (; i < count; ++i) dst[i] = fast_omega(y[i] * kShaperInScale + kShaperInOffset) * kShaperOutScale - bias;
}

// Runs the chain over m samples within one tick period. The output
// high-pass of the last chunk is left in `pending` for the caller.
void process_segment(Engine* e, const float* in, float* out, uint32_t m, PendingChunk& pending) {
    LinearStages st{e->in_hp, e->out_lp, e->svf_hp, e->svf_bp, e->svf_lp, e->svf_g, e->svf_gz, e->svf_kg, e->svf_d};
    // A local copy keeps the state in registers: the audio buffers could
    // otherwise alias the Engine.
    FirstOrder out_hp = e->out_hp;
    for (uint32_t start = 0; start < m; start += kChunk) {
        const uint32_t len = m - start < kChunk ? m - start : kChunk;
        const uint32_t both = len < pending.count ? len : pending.count;
        float* dst = out + start;
        for (uint32_t i = 0; i < both; ++i) {
            dst[i] = st.step(in[start + i]);
            pending.out[i] = first_order_step(out_hp, pending.samples[i]);
        }
        for (uint32_t i = both; i < len; ++i) dst[i] = st.step(in[start + i]);
        finish_pending(pending, out_hp, both);
        clip_chunk(dst, len, e->shaper_bias, pending.samples);
        pending.out = dst;
        pending.count = len;
    }
    e->in_hp = st.in_hp;
    e->out_lp = st.out_lp;
    e->out_hp = out_hp;
    e->svf_hp = st.hp;
    e->svf_bp = st.bp;
    e->svf_lp = st.lp;
}

}  // namespace

void engine_process(Engine* e, const float* input, float* output, uint32_t n) {
    PendingChunk pending;
    uint32_t pos = 0;
    while (pos < n) {
        if (e->tick_countdown == 0) lfo_tick(e);
        uint32_t m = n - pos < e->tick_countdown ? n - pos : e->tick_countdown;
        process_segment(e, input + pos, output + pos, m, pending);
        e->tick_countdown -= m;
        pos += m;
    }
    finish_pending(pending, e->out_hp, 0);
}

}  // namespace vexo
