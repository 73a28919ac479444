// The LV2 module driven through its exported descriptor after loading the
// built module by path, as a host does. Usage: lv2_tests <path to module>.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <xmmintrin.h>

#include "engine/engine.h"
#include "lv2_host.h"
#include "platform/platform.h"
#include "test_signal.h"

using namespace vexo_test;

namespace {

const char* g_module_path = nullptr;
constexpr const char* kUri = "https://brume-audio.org/plugins/vexo";
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

class Lv2Module : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = new LoadedModule(g_module_path); }
    static void TearDownTestSuite() {
        delete module;
        module = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(module->handle, nullptr) << "cannot load " << g_module_path;
        desc = module->descriptor();
        ASSERT_NE(desc, nullptr);
    }
    static LoadedModule* module;
    const LV2_Descriptor* desc = nullptr;
    HostFeatures host;
};
LoadedModule* Lv2Module::module = nullptr;

TEST_F(Lv2Module, ExportsOneDescriptor) {
    EXPECT_STREQ(desc->URI, kUri);
    EXPECT_EQ(module->descriptor_fn(0), desc);  // the same constant every time
    EXPECT_EQ(module->descriptor_fn(1), nullptr);
    EXPECT_EQ(module->descriptor_fn(0xffffffffu), nullptr);
    EXPECT_EQ(desc->deactivate, nullptr);
    EXPECT_NE(desc->instantiate, nullptr);
    EXPECT_NE(desc->connect_port, nullptr);
    EXPECT_NE(desc->activate, nullptr);
    EXPECT_NE(desc->run, nullptr);
    EXPECT_NE(desc->cleanup, nullptr);
    EXPECT_NE(desc->extension_data, nullptr);
    EXPECT_EQ(desc->extension_data("http://lv2plug.in/ns/ext/worker#interface"), nullptr);
    EXPECT_EQ(desc->extension_data(""), nullptr);
    EXPECT_NE(desc->extension_data("http://lv2plug.in/ns/ext/state#interface"), nullptr);
    EXPECT_EQ(desc->extension_data("http://lv2plug.in/ns/ext/state#interfac"), nullptr);
}

TEST_F(Lv2Module, InstantiatesQuietlyWithAFullHost) {
    Lv2Plugin p(desc, 48000, host.list);
    ASSERT_NE(p.handle, nullptr);
    EXPECT_TRUE(host.log.entries.empty());
    // The plug-in itself mapped the log types, the chunk type and its state
    // key (the test maps nothing before looking).
    const std::vector<std::string> mapped = host.urids.uris;
    for (const std::string& uri : {std::string(LV2_LOG__Error), std::string(LV2_LOG__Note), std::string(LV2_LOG__Trace),
                                   std::string(LV2_LOG__Warning), std::string(LV2_ATOM__Chunk),
                                   std::string(kUri) + "#state_data"})
        EXPECT_NE(std::find(mapped.begin(), mapped.end(), uri), mapped.end()) << uri;
}

TEST_F(Lv2Module, MissingUridMapIsReportedButNotFatal) {
    const LV2_Feature* log_only[] = {&host.log_feature_entry, nullptr};
    Lv2Plugin p(desc, 48000, log_only);
    ASSERT_NE(p.handle, nullptr);
    ASSERT_EQ(host.log.entries.size(), 1u);
    EXPECT_EQ(host.log.entries[0].text, "Missing feature <http://lv2plug.in/ns/ext/urid#map>\n");
    EXPECT_EQ(host.log.entries[0].type, 0u);  // no map, so no type could be mapped
    desc->activate(p.handle);
    p.run(64);
    EXPECT_EQ(p.cutoff_mod, 248.0f);

    // A map feature whose data is null counts as missing too.
    HostFeatures other;
    LV2_Feature null_map{LV2_URID__map, nullptr};
    const LV2_Feature* list[] = {&other.log_feature_entry, &null_map, nullptr};
    Lv2Plugin q(desc, 48000, list);
    ASSERT_NE(q.handle, nullptr);
    EXPECT_EQ(other.log.entries.size(), 1u);

    // No feature list at all: the message goes to stderr, the instance works.
    Lv2Plugin r(desc, 44100, nullptr);
    ASSERT_NE(r.handle, nullptr);
    desc->activate(r.handle);
    r.run(16);
    EXPECT_EQ(r.cutoff_mod, 248.0f);
}

// Control values reach the engine as whole steps; with no LFO depth the
// output port then reports 16 * step + 8 from the first sample on.
struct PortCase {
    const char* name;
    float value;
    int step;
};

class ControlRounding : public Lv2Module, public ::testing::WithParamInterface<PortCase> {};

TEST_P(ControlRounding, CutoffPortSnapsToStep) {
    const PortCase& c = GetParam();
    Lv2Plugin p(desc, 48000, host.list);
    desc->activate(p.handle);
    p.controls[0] = c.value;
    p.run(1);
    EXPECT_EQ(p.cutoff_mod, 16.0f * c.step + 8.0f);
    for (float v : p.out) ASSERT_TRUE(std::isfinite(v));
}

TEST_P(ControlRounding, AnyValueAtActivateIsSafe) {
    // activate takes port values without rounding; whatever they are, the
    // LFO must stay inside its tables and the output stays finite.
    const PortCase& c = GetParam();
    Lv2Plugin p(desc, 48000, host.list);
    for (float& v : p.controls) v = c.value;
    Lcg rng(1);
    for (float& s : p.in) s = rng.noise();
    desc->activate(p.handle);
    p.run(4096);
    EXPECT_GE(p.cutoff_mod, 0.0f);
    EXPECT_LE(p.cutoff_mod, 255.0f);
    for (float v : p.out) ASSERT_TRUE(std::isfinite(v));
}

const PortCase kPortCases[] = {
    {"seven_and_a_half", 7.5f, 8}, {"just_below_half", 7.49f, 7}, {"minus_half", -0.5f, 0},
    {"above_range", 15.5f, 15},    {"minus_three", -3.0f, 0},     {"thousand", 1000.0f, 15},
    {"nan", kNaN, 0},              {"plus_infinity", kInf, 15},   {"minus_infinity", -kInf, 0},
    {"huge", 3e38f, 15},           {"zero", 0.0f, 0},             {"seven_point_six", 7.6f, 8},
};

INSTANTIATE_TEST_SUITE_P(Values, ControlRounding, ::testing::ValuesIn(kPortCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Lv2Module, UnconnectedControlsUseDefaultsThenKeepLastValue) {
    Lv2Plugin connected(desc, 48000, host.list);
    Lv2Plugin loose(desc, 48000, host.list);
    for (uint32_t port = 2; port <= 4; ++port) desc->connect_port(loose.handle, port, nullptr);
    Lcg rng(9);
    for (size_t i = 0; i < connected.in.size(); ++i) connected.in[i] = loose.in[i] = rng.noise();
    desc->activate(connected.handle);
    desc->activate(loose.handle);
    connected.run(4000);
    loose.run(4000);
    EXPECT_EQ(loose.cutoff_mod, 248.0f);
    EXPECT_TRUE(same_bits(connected.out, loose.out));

    // Set cutoff 3 through the port, then disconnect it: the value stays.
    desc->connect_port(loose.handle, 2, &loose.controls[0]);
    loose.controls[0] = 3;
    loose.run(480);
    desc->connect_port(loose.handle, 2, nullptr);
    loose.run(480);
    EXPECT_EQ(loose.cutoff_mod, 56.0f);
    // A second activation keeps it too: only a connected port replaces it.
    desc->activate(loose.handle);
    loose.run(1);
    EXPECT_EQ(loose.cutoff_mod, 56.0f);
}

TEST_F(Lv2Module, ZeroLengthRunStillReportsOutput) {
    Lv2Plugin p(desc, 48000, host.list);
    p.controls[0] = 2;
    desc->activate(p.handle);
    p.run(0);
    EXPECT_EQ(p.cutoff_mod, 40.0f);
    desc->connect_port(p.handle, 5, nullptr);  // an unconnected output is left alone
    p.cutoff_mod = -7;
    p.run(16);
    EXPECT_EQ(p.cutoff_mod, -7.0f);
}

TEST_F(Lv2Module, PortIndexSixAndUpIsIgnored) {
    Lv2Plugin a(desc, 48000, host.list), b(desc, 48000, host.list);
    float junk[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (uint32_t port : {6u, 7u, 100u, 0xffffffffu}) desc->connect_port(b.handle, port, junk);
    Lcg rng(4);
    for (size_t i = 0; i < a.in.size(); ++i) a.in[i] = b.in[i] = rng.noise();
    desc->activate(a.handle);
    desc->activate(b.handle);
    a.run(2048);
    b.run(2048);
    EXPECT_TRUE(same_bits(a.out, b.out));
    EXPECT_EQ(junk[0], 1.0f);
}

// The module's output equals the engine's for the same input and settings,
// however the host cuts its blocks (lv2apply runs one sample at a time), and
// with the output buffer the same as the input buffer.
TEST_F(Lv2Module, OutputMatchesEngineForAnyBlockSize) {
    const uint32_t total = 48000;
    std::vector<float> signal = test_signal(total, 21);
    vexo::Engine e;
    vexo::engine_init(&e);
    vexo::engine_set_sample_rate(&e, 48000.0f);
    vexo::engine_set_parameter(&e, 0, 6);
    vexo::engine_set_parameter(&e, 1, 13);
    vexo::engine_set_parameter(&e, 2, 11);
    vexo::engine_reset(&e);
    std::vector<float> expected(total);
    uint32_t saved = vexo::platform_denormals_off();
    vexo::engine_process(&e, signal.data(), expected.data(), total);
    vexo::platform_denormals_restore(saved);

    for (uint32_t block : {1u, 7u, 480u, 4096u}) {
        for (bool in_place : {false, true}) {
            Lv2Plugin p(desc, 48000, host.list);
            p.set_controls(6, 13, 11);
            if (in_place) desc->connect_port(p.handle, 1, p.in.data());
            desc->activate(p.handle);
            std::vector<float> got(total);
            for (uint32_t pos = 0; pos < total; pos += block) {
                uint32_t n = std::min(block, total - pos);
                std::copy(signal.begin() + pos, signal.begin() + pos + n, p.in.begin());
                p.run(n);
                const std::vector<float>& out = in_place ? p.in : p.out;
                std::copy(out.begin(), out.begin() + n, got.begin() + pos);
            }
            EXPECT_EQ(first_difference(got, expected), -1) << "block " << block << " in place " << in_place;
        }
    }
}

TEST_F(Lv2Module, RunRestoresTheHostsDenormalMode) {
    Lv2Plugin p(desc, 48000, host.list);
    desc->activate(p.handle);
    const unsigned original = _mm_getcsr();
    for (unsigned mode : {original & ~0x8040u, original | 0x8040u, (original & ~0x8040u) | 0x40u}) {
        _mm_setcsr(mode | 0x6000u);  // also a non-default rounding mode, which run must leave alone
        p.run(256);
        unsigned after = _mm_getcsr();
        _mm_setcsr(original);
        EXPECT_EQ(after & ~0x3fu, (mode | 0x6000u) & ~0x3fu);  // ignore the sticky exception flags
    }
}

TEST_F(Lv2Module, LowSampleRatesNeitherHangNorBlowUp) {
    for (double rate : {1.0, 10.0, 49.0, 50.0, 1000.0, 8000.0, 11025.0, 15999.0}) {
        Lv2Plugin p(desc, rate, host.list);
        p.controls[1] = 15;
        p.controls[2] = 15;
        desc->activate(p.handle);
        Lcg rng(2);
        for (int block = 0; block < 40; ++block) {
            for (float& s : p.in) s = rng.noise() * 2.0f;
            p.controls[0] = static_cast<float>(block % 2 ? 0 : 15);
            if (block == 20) desc->activate(p.handle);  // reset with a high reference cutoff
            p.run(4096);
            for (float v : p.out) ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 100.0f) << "rate " << rate;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <path to brume-vexo module>\n", argv[0]);
        return 2;
    }
    g_module_path = argv[1];
    return RUN_ALL_TESTS();
}
