// Per-sample evaluation of the filter chain, written for clarity, not speed.
#include "reference_engine.h"

#include "engine/filter.h"

namespace vexo {

static float reference_sample(Engine* e, float in) {
    float x = first_order_step(e->in_hp, in);

    e->fc_hz = register_to_hz(e->fc_register);
    e->q = resonance_q();
    SvfCoeffs c = svf_coeffs(e->fc_hz, e->q, e->ref_fc, e->pi_over_fs, e->prewarp_max, e->sample_rate);
    float s1 = c.gz * e->svf_hp + e->svf_bp;
    float s2 = c.gz * e->svf_bp + e->svf_lp;
    float hp = ((x * kInputScale - c.kg * s1) - s2) * c.d;
    float bp = c.g * hp + s1;
    float lp = c.g * bp + s2;
    e->svf_hp = hp;
    e->svf_lp = lp;
    e->svf_bp = bp;
    float y = -bp;

    y = y * kOutputGain;
    y = first_order_step(e->out_lp, y);
    y = fast_omega(y * kShaperInScale + kShaperInOffset) * kShaperOutScale - e->shaper_bias;
    return first_order_step(e->out_hp, y);
}

void reference_process(Engine* e, const float* input, float* output, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        if (e->tick_countdown == 0) lfo_tick(e);
        output[i] = reference_sample(e, input[i]);
        e->tick_countdown -= 1;
    }
}

}  // namespace vexo
