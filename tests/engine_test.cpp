// Engine tests: fast maths, the parameter snap rule, the filter's figures,
// the LFO, and the block loop's promise that output depends only on the
// samples and parameter changes, never on how a host cuts its blocks.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "bench/reference_engine.h"
#include "engine/engine.h"
#include "engine/filter.h"
#include "test_signal.h"

using namespace vexo;
using vexo_test::Lcg;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

Engine make_engine(float rate, float cutoff = 15, float amt = 0, float speed = 7) {
    Engine e;
    engine_init(&e);
    engine_set_sample_rate(&e, rate);
    engine_set_parameter(&e, kParamCutoff, cutoff);
    engine_set_parameter(&e, kParamLfoAmt, amt);
    engine_set_parameter(&e, kParamLfoSpeed, speed);
    engine_reset(&e);
    return e;
}

std::vector<float> run_blocks(Engine& e, const std::vector<float>& in, const std::vector<uint32_t>& cuts) {
    std::vector<float> out(in.size());
    size_t pos = 0;
    size_t k = 0;
    while (pos < in.size()) {
        uint32_t n = cuts.empty() ? static_cast<uint32_t>(in.size()) : cuts[k++ % cuts.size()];
        if (n > in.size() - pos) n = static_cast<uint32_t>(in.size() - pos);
        engine_process(&e, in.data() + pos, out.data() + pos, n);
        pos += n;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Fast maths

struct MathCase {
    const char* name;
    float (*fn)(float);
    float x;
    float expected;
    float tolerance;
};

class FastMathValues : public ::testing::TestWithParam<MathCase> {};

TEST_P(FastMathValues, MatchesFigure) {
    const MathCase& c = GetParam();
    EXPECT_NEAR(c.fn(c.x), c.expected, c.tolerance) << c.name;
}

const MathCase kMathCases[] = {
    {"rcp_4", fast_rcp, 4.0f, 0.24999698f, 2e-8f},
    {"rcp_1", fast_rcp, 1.0f, 0.9999879f, 1e-7f},
    {"rcp_3", fast_rcp, 3.0f, 0.33333275f, 1e-7f},
    {"sin_0", fast_sin2pi, 0.0f, 0.0f, 0.0f},
    {"sin_quarter", fast_sin2pi, 0.25f, 1.0f, 0.0f},
    {"sin_half", fast_sin2pi, 0.5f, 0.0f, 0.0f},
    {"sin_three_quarters", fast_sin2pi, 0.75f, -1.0f, 0.0f},
    {"sin_minus_quarter", fast_sin2pi, -0.25f, -1.0f, 0.0f},
    {"sin_quarter_plus_3", fast_sin2pi, 3.25f, 1.0f, 0.0f},
    {"sin_quarter_minus_5", fast_sin2pi, -4.75f, 1.0f, 0.0f},
    {"sin_eighth", fast_sin2pi, 0.125f, 0.6963495f, 1e-7f},
    {"tan_cutoff_48k", fast_tan2pi, 2057.9094f / 96000.0f, 0.13476f, 1e-5f},
    {"log2_8", fast_log2, 8.0f, 3.0f, 1e-5f},
    {"omega_minus_10", fast_omega, -10.0f, 4.54e-5f, 1e-7f},
    {"omega_2e9", fast_omega, 2e9f, 2e9f, 0.0f},
    {"omega_shaper_rest", fast_omega, 159.69313f, 154.6520f, 1e-4f},
};

INSTANTIATE_TEST_SUITE_P(Figures, FastMathValues, ::testing::ValuesIn(kMathCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FastMath, ErrorBoundsOverTheirDomains) {
    double worst_rcp = 0, worst_sin = 0, worst_log = 0, worst_exp = 0;
    for (double x = 1e-3; x < 1e6; x *= 1.0007) {
        float xf = static_cast<float>(x);
        worst_rcp = std::fmax(worst_rcp, std::fabs(fast_rcp(xf) * double(xf) - 1.0));
    }
    for (double x = -3.0; x < 3.0; x += 0.000731) {
        float xf = static_cast<float>(x);
        worst_sin = std::fmax(worst_sin, std::fabs(fast_sin2pi(xf) - std::sin(2 * std::numbers::pi * double(xf))));
    }
    for (double x = 8.0; x < 1e7; x *= 1.0013) {
        float xf = static_cast<float>(x);
        worst_log = std::fmax(worst_log, std::fabs(fast_log2(xf) - std::log2(double(xf))));
    }
    for (double x = -125.99; x < 60.0; x += 0.00713) {
        float xf = static_cast<float>(x);
        worst_exp = std::fmax(worst_exp, std::fabs(fast_exp2(xf) / std::exp2(double(xf)) - 1.0));
    }
    EXPECT_LT(worst_rcp, 1.23e-5);
    EXPECT_GT(worst_rcp, 1.0e-5);  // the figure is the approximation's, not a better one
    EXPECT_LT(worst_sin, 0.0109);
    EXPECT_LT(worst_log, 0.0054);
    EXPECT_LT(worst_exp, 6.2e-4);
}

TEST(FastMath, OmegaSolvesItsEquation) {
    // Against omega from Newton's method in double precision: within about 4 %
    // where omega is small, much closer for large arguments.
    for (double x = -20.0; x < 5000.0; x += (x < 20 ? 0.01 : 1.7)) {
        double w = x > 1 ? x - std::log(x) : std::exp(x);
        for (int i = 0; i < 60; ++i) w -= (w + std::log(w) - x) / (1 + 1 / w);
        double got = fast_omega(static_cast<float>(x));
        ASSERT_LT(std::fabs(got - w) / w, x < 0 ? 0.045 : 0.01) << "x=" << x;
    }
}

TEST(FastMath, PackedOmegaEqualsScalarBitForBit) {
    std::vector<float> xs = {0.0f, -0.0f, 1.0f, -1.0f, 8.0f, 7.9999995f, -3.3414595f, -3.3414593f, 1e9f,
                             999999940.0f, kInf, -kInf, 159.69313f, -1e30f, 1e30f, 1e-40f, -1e-40f,
                             -126.0f, 3.4e38f, -3.4e38f};
    Lcg rng(7);
    for (int i = 0; i < 200000; ++i) xs.push_back(bits_float(rng.next()));  // any bit pattern
    for (int i = 0; i < 200000; ++i) xs.push_back(rng.noise() * 400.0f);   // the clipper's range
    for (size_t i = 0; i < xs.size(); i += 4) {
        alignas(16) float in[4] = {xs[i], xs[(i + 1) % xs.size()], xs[(i + 2) % xs.size()], xs[(i + 3) % xs.size()]};
        alignas(16) float out[4];
        _mm_store_ps(out, fast_omega4(_mm_load_ps(in)));
        for (int j = 0; j < 4; ++j) {
            float s = fast_omega(in[j]);
            if (std::isnan(s)) {
                ASSERT_TRUE(std::isnan(out[j])) << in[j];
            } else {
                ASSERT_EQ(float_bits(s), float_bits(out[j])) << "x=" << in[j];
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Parameter table and snapping

struct SnapCase {
    const char* name;
    double value;
    double expected;
};

class Snap : public ::testing::TestWithParam<SnapCase> {};

TEST_P(Snap, RoundsHalfAwayAndLimits) {
    const SnapCase& c = GetParam();
    EXPECT_EQ(param_snap(c.value, 0.0, 15.0), c.expected);
    EXPECT_EQ(param_snap(static_cast<float>(c.value), 0.0f, 15.0f), static_cast<float>(c.expected));
    EXPECT_EQ(param_snap_row(c.value, kParams[kParamLfoAmt]), c.expected);
}

const SnapCase kSnapCases[] = {
    {"seven_and_a_half", 7.5, 8},   {"just_below_half", 7.49, 7},     {"minus_half", -0.5, 0},
    {"above_range", 15.5, 15},      {"thousand", 1000, 15},           {"minus_three", -3, 0},
    {"nan", std::nan(""), 0},       {"minus_infinity", -HUGE_VAL, 0}, {"plus_infinity", HUGE_VAL, 15},
    {"beyond_int32", 3e9, 15},      {"beyond_int64", 1e300, 15},      {"zero", 0, 0},
    {"one_and_a_half", 1.5, 2},     {"fifteen", 15, 15},              {"half_of_normalised", 0.5 * 15, 8},
};

INSTANTIATE_TEST_SUITE_P(Table, Snap, ::testing::ValuesIn(kSnapCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParamTable, RowsInOrder) {
    const double mins[] = {0, 0, 0, 0}, maxs[] = {15, 15, 15, 255}, defs[] = {15, 0, 7, 248};
    const char* keys[] = {"cutoff", "lfo_amt", "lfo_speed", nullptr};
    for (uint32_t i = 0; i < kParamCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kParams[i].index, i);
        EXPECT_EQ(kParams[i].minimum, mins[i]);
        EXPECT_EQ(kParams[i].maximum, maxs[i]);
        EXPECT_EQ(kParams[i].default_value, defs[i]);
        EXPECT_EQ(kParams[i].flags, kParamFlagInteger);
        EXPECT_EQ(kParams[i].is_output, i == kParamCutoffMod);
        if (keys[i]) {
            EXPECT_STREQ(kParams[i].state_key, keys[i]);
        } else {
            EXPECT_EQ(kParams[i].state_key, nullptr);
        }
    }
    // The output's default is what the default cutoff gives unmodulated.
    Engine e = make_engine(48000);
    EXPECT_EQ(engine_get_parameter(&e, kParamCutoffMod), kParams[kParamCutoffMod].default_value);
}

TEST(Engine, RegistersFollowParameters) {
    struct { float cutoff; int base; } cases[] = {{0, 8}, {7, 120}, {15, 248}, {7.9f, 120}};
    for (auto c : cases) {
        Engine e = make_engine(48000, c.cutoff);
        EXPECT_EQ(e.cutoff_base, c.base) << c.cutoff;
        EXPECT_EQ(engine_get_parameter(&e, kParamCutoff), c.cutoff);
    }
    Engine e;
    engine_init(&e);
    EXPECT_EQ(e.cutoff_base, 248);
    EXPECT_EQ(e.lfo_amt_reg, 0);
    EXPECT_EQ(e.lfo_speed_reg, 7);
    EXPECT_EQ(float_bits(e.shaper_bias), 0x4080aba5u);
    EXPECT_EQ(engine_get_parameter(&e, kParamLfoSpeed), 7.0f);
}

// ---------------------------------------------------------------------------
// Sample-rate dependent values

TEST(Engine, TickPeriodPerRate) {
    struct { float rate; uint32_t period; } cases[] = {
        {44100, 441}, {48000, 480}, {96000, 960}, {22050, 221}, {11025, 110}, {192000, 1920},
        {8000, 80},   {150, 2},     {50, 1},      {49, 1},      {10, 1},      {0.001f, 1},
    };
    for (auto c : cases) {
        Engine e = make_engine(c.rate);
        EXPECT_EQ(e.tick_period, c.period) << c.rate;
        EXPECT_EQ(engine_sample_rate(&e), c.rate);
    }
}

TEST(Engine, FirstOrderCoefficientsAt48k) {
    Engine e = make_engine(48000);
    EXPECT_NEAR(e.in_hp.b0, 0.99971712f, 2e-7f);
    EXPECT_EQ(e.in_hp.b1, -e.in_hp.b0);
    EXPECT_NEAR(e.in_hp.a1, -0.99943477f, 2e-7f);
    EXPECT_NEAR(e.out_lp.b0, 0.63234329f, 2e-7f);
    EXPECT_EQ(e.out_lp.b1, e.out_lp.b0);
    EXPECT_NEAR(e.out_lp.a1, 0.26468760f, 2e-7f);
    EXPECT_NEAR(e.out_hp.b0, 0.99992240f, 2e-7f);
    EXPECT_NEAR(e.out_hp.a1, -0.99985683f, 2e-7f);
}

TEST(Engine, CutoffRegisterToFrequency) {
    struct { float reg; float hz; } cases[] = {
        {62, 398.72f}, {320, 2057.9094f}, {342, 2199.3906f}, {2047, 13164.189f}, {5000, 13164.189f}, {0, 6.430967e-6f},
    };
    for (auto c : cases) EXPECT_NEAR(register_to_hz(c.reg), c.hz, c.hz * 2e-7f) << c.reg;
    EXPECT_NEAR(resonance_q(), 2.6957777f, 1e-4f);
}

TEST(Engine, IntegratorGainAt48k) {
    SvfCoeffs c = svf_coeffs(2057.9094f, resonance_q(), 2057.9094f, 3.1415927f / 48000.0f, 0.499f * 48000.0f, 48000.0f);
    EXPECT_NEAR(c.g, 0.134755f, 2e-6f);
    EXPECT_EQ(c.g, c.gz);
}

TEST(Engine, ReferenceCutoffTakenAtReset) {
    Engine e = make_engine(48000);
    EXPECT_NEAR(e.ref_fc, 6.43e-6f, 1e-8f);  // no tick has run yet
    std::vector<float> in(1000, 0.1f), out(1000);
    engine_process(&e, in.data(), out.data(), 1000);
    engine_reset(&e);
    EXPECT_NEAR(e.ref_fc, 2057.9094f, 1e-3f);
    EXPECT_EQ(e.fc_register, 320.0f);  // survives reset
}

// ---------------------------------------------------------------------------
// Sound

TEST(Engine, ImpulseResponseAfterFirstReset) {
    Engine e = make_engine(48000);
    std::vector<float> in(48000, 0.0f), out(48000);
    in[0] = 1.0f;
    engine_process(&e, in.data(), out.data(), 48000);
    EXPECT_NEAR(out[0], 0.0792f, 5e-4f);
    EXPECT_NEAR(out[1], 0.1310f, 5e-4f);
    EXPECT_NEAR(out[2], 0.1036f, 5e-4f);
    EXPECT_NEAR(out[3], 0.0956f, 5e-4f);
    for (int i = 47000; i < 48000; ++i) ASSERT_LT(std::fabs(out[i]), 1e-10f) << i;
}

TEST(Engine, SilenceGivesExactZerosForEverySetting) {
    for (float cutoff : {0.0f, 7.0f, 15.0f})
        for (float amt : {0.0f, 15.0f})
            for (float speed : {0.0f, 15.0f}) {
                Engine e = make_engine(44100, cutoff, amt, speed);
                std::vector<float> in(20000, 0.0f), out(20000, 1.0f);
                engine_process(&e, in.data(), out.data(), 20000);
                for (float v : out) ASSERT_EQ(float_bits(v), 0u) << cutoff << " " << amt << " " << speed;
            }
}

TEST(Engine, ConstantInputDecaysToZero) {
    Engine e = make_engine(48000, 3, 10, 12);
    std::vector<float> in(48000 * 6, 0.5f), out(in.size());
    engine_process(&e, in.data(), out.data(), static_cast<uint32_t>(in.size()));
    float peak = 0;
    for (float v : out) peak = std::fmax(peak, std::fabs(v));
    EXPECT_GT(peak, 0.01f);
    for (size_t i = out.size() - 4800; i < out.size(); ++i) ASSERT_LT(std::fabs(out[i]), 1e-4f) << i;
}

TEST(Engine, SoftClipperLimitsNegativeSide) {
    auto clip = [](float y) { return fast_omega(y * kShaperInScale + kShaperInOffset) * kShaperOutScale - bits_float(0x4080aba5u); };
    EXPECT_EQ(clip(0.0f), 0.0f);
    EXPECT_NEAR(clip(1.0f), 0.99425f, 1e-5f);
    EXPECT_NEAR(clip(10.0f), 9.9676f, 1e-4f);
    EXPECT_NEAR(clip(-4.0f), -3.90626f, 1e-5f);
    EXPECT_EQ(clip(-5.0f), -4.0209527f);
    for (float y = -1e6f; y < 0.0f; y = y * 0.97f + 0.001f) ASSERT_GE(clip(y), -4.0209527f) << y;
}

TEST(Engine, NonFiniteInputPropagatesUntilReset) {
    Engine e = make_engine(48000);
    std::vector<float> in(2000, 0.0f), out(2000);
    in[10] = kNaN;
    engine_process(&e, in.data(), out.data(), 2000);
    EXPECT_TRUE(std::isnan(out[1999]));
    engine_reset(&e);
    in[10] = 0.0f;
    engine_process(&e, in.data(), out.data(), 2000);
    for (float v : out) ASSERT_EQ(v, 0.0f);
}

// ---------------------------------------------------------------------------
// LFO and ticks

// cutoff_mod and fc_register after each of the first ticks, one tick period
// per process call.
void tick_sequence(Engine& e, size_t ticks, std::vector<int>& mods, std::vector<int>& regs) {
    std::vector<float> in(e.tick_period, 0.0f), out(e.tick_period);
    for (size_t t = 0; t < ticks; ++t) {
        engine_process(&e, in.data(), out.data(), e.tick_period);
        mods.push_back(static_cast<int>(engine_get_parameter(&e, kParamCutoffMod)));
        regs.push_back(static_cast<int>(e.fc_register));
    }
}

TEST(Lfo, FastestSpeedDeepestTable) {
    Engine e = make_engine(44100, 7, 15, 15);
    std::vector<int> mods, regs;
    tick_sequence(e, 6, mods, regs);
    EXPECT_EQ(mods, (std::vector<int>{247, 117, 0, 123, 247, 117}));
    EXPECT_EQ(regs, (std::vector<int>{317, 89, 62, 94, 317, 89}));
}

TEST(Lfo, DeepSweepClipsAtTheTop) {
    Engine e = make_engine(48000, 15, 15, 7);
    std::vector<int> mods, regs;
    tick_sequence(e, 65, mods, regs);
    std::vector<int> expected(15, 255);
    for (int v : {245, 220, 197, 175, 156, 141, 130, 123, 121, 124, 132, 144, 160, 180, 202, 226, 251}) expected.push_back(v);
    for (int i = 0; i < 32; ++i) expected.push_back(expected[i]);  // one period is 32 ticks
    expected.push_back(expected[0]);
    EXPECT_EQ(mods, expected);
}

TEST(Lfo, NoDepthKeepsBaseCutoffAtEverySpeed) {
    for (int cutoff = 0; cutoff < 16; ++cutoff)
        for (int speed = 0; speed < 16; ++speed) {
            Engine e = make_engine(48000, static_cast<float>(cutoff), 0, static_cast<float>(speed));
            std::vector<int> mods, regs;
            tick_sequence(e, 5, mods, regs);
            for (size_t t = 0; t < mods.size(); ++t) {
                ASSERT_EQ(mods[t], 16 * cutoff + 8);
                ASSERT_EQ(regs[t], kCutoffCurve[16 * cutoff + 8]);
            }
        }
    Engine e = make_engine(48000);
    std::vector<float> one(1, 0.0f), out(1);
    engine_process(&e, one.data(), out.data(), 1);
    EXPECT_EQ(engine_get_parameter(&e, kParamCutoffMod), 248.0f);
    EXPECT_EQ(e.fc_register, 320.0f);
    EXPECT_NEAR(e.fc_hz, 2057.9094f, 1e-3f);
}

TEST(Lfo, TablesFollowTheirRule) {
    const int peaks[16] = {0, 8, 17, 25, 34, 42, 51, 59, 68, 76, 85, 93, 102, 110, 119, 127};
    for (int a = 0; a < 16; ++a) {
        for (int i = 0; i < 256; ++i) {
            double v = 127.0 * a / 15.0 * std::sin(2 * std::numbers::pi * (i + 1) / 256.0);
            ASSERT_EQ(kLfoSineTables[a][i], static_cast<int>(std::lround(v))) << a << " " << i;
        }
        EXPECT_EQ(kLfoSineTables[a][63], peaks[a]);
        EXPECT_EQ(kLfoSineTables[a][191], -peaks[a]);
        EXPECT_EQ(kLfoSineTables[a][127], 0);
        EXPECT_EQ(kLfoSineTables[a][255], 0);
    }
    EXPECT_EQ(kLfoSineTables[15][0], 3);
    EXPECT_EQ(kLfoSineTables[15][4], 16);
    for (int i = 1; i < 256; ++i) ASSERT_GE(kCutoffCurve[i], kCutoffCurve[i - 1]);
    const int at_settings[16] = {62, 62, 63, 65, 68, 74, 81, 91, 105, 121, 142, 167, 197, 232, 273, 320};
    for (int c = 0; c < 16; ++c) EXPECT_EQ(kCutoffCurve[16 * c + 8], at_settings[c]);
}

TEST(Lfo, TicksFallEveryPeriodAcrossBlocks) {
    // Speed 0 steps the phase by 1 per tick, so the phase counts the ticks.
    Engine e = make_engine(44100, 15, 0, 0);
    Lcg rng(3);
    std::vector<float> buf(2000, 0.0f);
    uint32_t done = 0;
    while (done < 44100) {
        uint32_t n = 1 + rng.below(900);
        engine_process(&e, buf.data(), buf.data(), n);
        done += n;
        ASSERT_EQ(e.lfo_phase, static_cast<uint8_t>((done - 1) / 441 + 1)) << done;
        ASSERT_EQ(e.tick_countdown, 441 - (done - 1) % 441 - 1);
    }
}

TEST(Lfo, SpeedChangeKeepsPhase) {
    Engine e = make_engine(48000, 15, 15, 0);
    std::vector<float> buf(480 * 3, 0.0f);
    engine_process(&e, buf.data(), buf.data(), 480 * 3);  // three ticks of step 1
    EXPECT_EQ(e.lfo_phase, 3);
    engine_set_parameter(&e, kParamLfoSpeed, 15);
    engine_process(&e, buf.data(), buf.data(), 1);
    EXPECT_EQ(e.lfo_phase, 67);
}

TEST(Lfo, OutOfRangeRegistersStayInsideTables) {
    // Callers that skip snapping can store any byte; the tick treats registers
    // above 15 as 15 (the sanitizer build checks the reads).
    Engine wild = make_engine(48000, 7, 300, 1000);
    Engine deep = make_engine(48000, 7, 15, 15);
    std::vector<int> wm, wr, dm, dr;
    tick_sequence(wild, 8, wm, wr);
    tick_sequence(deep, 8, dm, dr);
    EXPECT_EQ(wm, dm);
    for (float v : {kNaN, kInf, -kInf, 3e9f, -1e20f}) {
        Engine e = make_engine(48000, v, v, v);
        std::vector<int> m, r;
        tick_sequence(e, 4, m, r);
        for (int x : m) ASSERT_LE(x, 255);
    }
}

// ---------------------------------------------------------------------------
// Block loop

TEST(BlockLoop, ZeroSamplesChangeNothing) {
    Engine e = make_engine(48000, 9, 12, 13);
    std::vector<float> buf(700, 0.25f);
    engine_process(&e, buf.data(), buf.data(), 700);
    Engine before = e;
    engine_process(&e, nullptr, nullptr, 0);
    EXPECT_EQ(std::memcmp(&before, &e, sizeof e), 0);
    Engine fresh = make_engine(48000);
    engine_process(&fresh, nullptr, nullptr, 0);
    EXPECT_EQ(engine_get_parameter(&fresh, kParamCutoffMod), 248.0f);
    EXPECT_EQ(fresh.tick_countdown, 0u);
}

TEST(BlockLoop, OutputIndependentOfBlockCuttingAndInPlace) {
    const std::vector<float> in = vexo_test::test_signal(44100 * 2, 11);
    Engine whole_engine = make_engine(44100, 9, 14, 15);
    const std::vector<float> whole = run_blocks(whole_engine, in, {});
    const std::vector<std::vector<uint32_t>> cuttings = {
        {1}, {2}, {3}, {4}, {5}, {440}, {441}, {442}, {1, 440, 3, 441, 442}, {64}, {4096}, {7, 1, 1, 13, 2},
    };
    for (const auto& cuts : cuttings) {
        Engine e = make_engine(44100, 9, 14, 15);
        std::vector<float> out = run_blocks(e, in, cuts);
        EXPECT_EQ(vexo_test::first_difference(out, whole), -1) << "block " << cuts[0];
    }
    Engine e = make_engine(44100, 9, 14, 15);
    std::vector<float> buf = in;
    engine_process(&e, buf.data(), buf.data(), static_cast<uint32_t>(buf.size()));
    EXPECT_EQ(vexo_test::first_difference(buf, whole), -1) << "in place";
}

// The block loop against the straightforward per-sample form: long random
// signals, random parameter changes between blocks, random block sizes.
TEST(BlockLoop, EqualsPerSampleFormBitForBit) {
    for (float rate : {44100.0f, 48000.0f, 96000.0f, 22050.0f, 16000.0f, 8000.0f, 192000.0f, 100.0f}) {
        Lcg rng(static_cast<uint32_t>(rate));
        const uint32_t total = 200000;
        std::vector<float> in = vexo_test::test_signal(total, static_cast<uint32_t>(rate) + 1, 0.8f);
        std::vector<float> fast(total), slow(total);
        Engine a = make_engine(rate, 4, 9, 2);
        Engine b = a;
        uint32_t pos = 0;
        while (pos < total) {
            uint32_t n = rng.below(8) == 0 ? 1 + rng.below(3000) : rng.below(300);
            if (n > total - pos) n = total - pos;
            if (rng.below(4) == 0) {
                uint32_t index = rng.below(3);
                float v = static_cast<float>(rng.below(16));
                engine_set_parameter(&a, index, v);
                engine_set_parameter(&b, index, v);
            }
            if (rng.below(500) == 0) {
                engine_reset(&a);
                engine_reset(&b);
            }
            bool in_place = rng.below(3) == 0;
            if (in_place) {
                std::copy(in.begin() + pos, in.begin() + pos + n, fast.begin() + pos);
                engine_process(&a, fast.data() + pos, fast.data() + pos, n);
            } else {
                engine_process(&a, in.data() + pos, fast.data() + pos, n);
            }
            reference_process(&b, in.data() + pos, slow.data() + pos, n);
            pos += n;
        }
        ASSERT_EQ(vexo_test::first_difference(fast, slow), -1) << "rate " << rate;
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "engine state, rate " << rate;
    }
}

// The coefficients cached per tick follow a new rate even when a caller
// skips the reset that should follow it: the block loop still matches the
// per-sample evaluation.
TEST(BlockLoop, CachedCoefficientsFollowTheRate) {
    Engine a = make_engine(48000, 6, 10, 9);
    std::vector<float> in = vexo_test::test_signal(30000, 8), fast(in.size()), slow(in.size());
    engine_process(&a, in.data(), fast.data(), 1000);
    Engine b = a;
    engine_set_sample_rate(&a, 22050);
    engine_set_sample_rate(&b, 22050);
    engine_process(&a, in.data() + 1000, fast.data() + 1000, 29000);
    reference_process(&b, in.data() + 1000, slow.data() + 1000, 29000);
    std::copy(fast.begin(), fast.begin() + 1000, slow.begin());
    EXPECT_EQ(vexo_test::first_difference(fast, slow), -1);
}

// Low rates: a reference cutoff far above the current one must not make the
// filter grow. Worst case: reset while the cutoff is at the top, then sweep
// at the bottom (and the other way round).
TEST(BlockLoop, LowSampleRatesStayBounded) {
    for (float rate : {1.0f, 10.0f, 49.0f, 50.0f, 100.0f, 1000.0f, 4000.0f, 8000.0f, 11025.0f, 15300.0f,
                       15999.0f, 16000.0f, 22050.0f}) {
        for (int order = 0; order < 2; ++order) {
            Engine e = make_engine(rate, order ? 0.0f : 15.0f, 0, 0);
            std::vector<float> warm(4096, 0.0f);
            engine_process(&e, warm.data(), warm.data(), 4096);
            engine_reset(&e);
            engine_set_parameter(&e, kParamCutoff, order ? 15.0f : 0.0f);
            engine_set_parameter(&e, kParamLfoAmt, 15.0f);
            engine_set_parameter(&e, kParamLfoSpeed, 3.0f);
            std::vector<float> in = vexo_test::test_signal(200000, 5), out(in.size());
            engine_process(&e, in.data(), out.data(), static_cast<uint32_t>(in.size()));
            float peak = 0;
            for (float v : out) {
                ASSERT_TRUE(std::isfinite(v)) << "rate " << rate;
                peak = std::fmax(peak, std::fabs(v));
            }
            EXPECT_LT(peak, 100.0f) << "rate " << rate << " order " << order;
        }
    }
}

}  // namespace
