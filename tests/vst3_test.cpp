// The VST3 module driven as a host drives it, after loading the built module
// by path: factory, component lifecycle, processing with parameter queues,
// the output parameter, state, and the controller's texts and conversions.
// Usage: vst3_tests <vst3 module> <lv2 module>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "engine/engine.h"
#include "lv2_host.h"
#include "state/state_alloc.h"
#include "state/state_archive.h"
#include "state/state_map.h"
#include "state/tar.h"
#include "state_values.h"
#include "test_signal.h"
#include "vst3_host.h"

using namespace vexo_test;
using namespace vst3;

namespace {

const char* g_vst3_path = nullptr;
const char* g_lv2_path = nullptr;


std::u16string text16(const char16* s) { return std::u16string(s); }

class Vst3Module : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = new LoadedVst3(g_vst3_path); }
    static void TearDownTestSuite() {
        delete module;
        module = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(module->handle, nullptr) << "cannot load " << g_vst3_path;
        ASSERT_NE(module->factory, nullptr);
        component_cid = module->class_id(0);
        controller_cid = module->class_id(1);
    }
    static LoadedVst3* module;
    Uid component_cid{}, controller_cid{};
};
LoadedVst3* Vst3Module::module = nullptr;

// ---------------------------------------------------------------------------
// Factory

TEST_F(Vst3Module, FactoryDescribesTwoClasses) {
    void* f = module->factory;
    auto get = reinterpret_cast<void* (*)()>(vexo::platform_module_symbol(module->handle, "GetPluginFactory"));
    EXPECT_EQ(get(), f);
    EXPECT_EQ(VCALL(IPluginFactory3Vtbl, f, release), 1u);  // static: never freed
    EXPECT_EQ(VCALL(IPluginFactory3Vtbl, f, addRef), 1u);
    for (const Uid* iid : {&kFUnknownIid, &kIPluginFactoryIid, &kIPluginFactory2Iid, &kIPluginFactory3Iid})
        EXPECT_EQ(query(f, *iid), f);
    void* out = f;
    EXPECT_EQ(VCALL(IPluginFactory3Vtbl, f, queryInterface, kIComponentIid.data(), &out), kNoInterface);
    EXPECT_EQ(out, nullptr);

    PFactoryInfo fi{};
    ASSERT_EQ(VCALL(IPluginFactory3Vtbl, f, getFactoryInfo, &fi), kResultOk);
    EXPECT_STREQ(fi.vendor, "Brumeworks");
    EXPECT_EQ(fi.flags, 16);
    EXPECT_EQ(VCALL(IPluginFactory3Vtbl, f, countClasses), 2);

    PClassInfo ci{};
    for (int32_t bad : {2, -1, 1000}) {
        EXPECT_EQ(VCALL(IPluginFactory3Vtbl, f, getClassInfo, bad, &ci), kInvalidArgument);
        PClassInfo2 c2{};
        EXPECT_EQ(VCALL(IPluginFactory3Vtbl, f, getClassInfo2, bad, &c2), kInvalidArgument);
        PClassInfoW cw{};
        EXPECT_EQ(VCALL(IPluginFactory3Vtbl, f, getClassInfoUnicode, bad, &cw), kInvalidArgument);
    }
    struct Expected {
        const char* category;
        const char* name;
        uint32_t flags;
        const char* sub;
    } expected[2] = {{"Audio Module Class", "Vexo", 1, "Fx|Filter"}, {"Component Controller Class", "Vexo Controller", 0, ""}};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        PClassInfo2 c2{};
        ASSERT_EQ(VCALL(IPluginFactory3Vtbl, f, getClassInfo2, i, &c2), kResultOk);
        EXPECT_EQ(c2.cardinality, 0x7FFFFFFF);
        EXPECT_STREQ(c2.category, expected[i].category);
        EXPECT_STREQ(c2.name, expected[i].name);
        EXPECT_EQ(c2.classFlags, expected[i].flags);
        EXPECT_STREQ(c2.subCategories, expected[i].sub);
        EXPECT_STREQ(c2.vendor, "");
        EXPECT_STREQ(c2.version, "1.2.5.1");
        EXPECT_STREQ(c2.sdkVersion, "VST 3.8.0 | Gantry");
        PClassInfoW cw{};
        ASSERT_EQ(VCALL(IPluginFactory3Vtbl, f, getClassInfoUnicode, i, &cw), kResultOk);
        EXPECT_EQ(std::memcmp(cw.cid, c2.cid, 16), 0);
        EXPECT_EQ(text16(cw.name), i == 0 ? u"Vexo" : u"Vexo Controller");
        EXPECT_EQ(text16(cw.sdkVersion), u"VST 3.8.0");
        EXPECT_EQ(text16(cw.version), u"1.2.5.1");
        EXPECT_EQ(text16(cw.vendor), u"");
        EXPECT_STREQ(cw.subCategories, expected[i].sub);
    }
    EXPECT_NE(component_cid, controller_cid);
    EXPECT_EQ(VCALL(IPluginFactory3Vtbl, f, setHostContext, nullptr), kNotImplemented);
}

TEST_F(Vst3Module, CreateInstanceAcceptsOnlyTheEntryInterfaces) {
    tresult r = 0;
    void* sentinel = reinterpret_cast<void*>(0x1234);
    void* out = sentinel;
    r = VCALL(IPluginFactory3Vtbl, module->factory, createInstance, reinterpret_cast<const char*>(component_cid.data()),
              reinterpret_cast<const char*>(kIAudioProcessorIid.data()), &out);
    EXPECT_EQ(r, kNoInterface);
    EXPECT_EQ(out, sentinel);  // untouched
    Uid unknown = make_uid(1, 2, 3, 4);
    r = VCALL(IPluginFactory3Vtbl, module->factory, createInstance, reinterpret_cast<const char*>(unknown.data()),
              reinterpret_cast<const char*>(kFUnknownIid.data()), &out);
    EXPECT_EQ(r, kNoInterface);
    EXPECT_EQ(out, nullptr);  // cleared

    for (const Uid* iid : {&kIComponentIid, &kIPluginBaseIid, &kFUnknownIid}) {
        void* c = module->create(component_cid, *iid);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(VCALL(FUnknownVtbl, c, addRef), 2u);  // created with one reference
        EXPECT_EQ(release(c), 1u);
        EXPECT_EQ(release(c), 0u);
    }
    for (const Uid* iid : {&kIEditControllerIid, &kIPluginBaseIid, &kFUnknownIid}) {
        void* c = module->create(controller_cid, *iid);
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(release(c), 0u);
    }
    EXPECT_EQ(module->create(controller_cid, kIComponentIid, &r), nullptr);
    EXPECT_EQ(r, kNoInterface);
}

// Every interface answers the others, shares one count, and has no empty slot.
TEST_F(Vst3Module, InterfacesShareOneObjectAndHaveNoEmptySlots) {
    struct Iface {
        const Uid* iid;
        size_t slots;
    };
    const Iface component_ifaces[] = {{&kIComponentIid, 14}, {&kIAudioProcessorIid, 11},
                                      {&kIProcessContextRequirementsIid, 4}, {&kIConnectionPointIid, 6}};
    const Iface controller_ifaces[] = {{&kIEditControllerIid, 18}, {&kIMidiMappingIid, 4}, {&kIConnectionPointIid, 6}};
    for (bool is_component : {true, false}) {
        void* obj = module->create(is_component ? component_cid : controller_cid,
                                   is_component ? kIComponentIid : kIEditControllerIid);
        ASSERT_NE(obj, nullptr);
        const Iface* begin = is_component ? component_ifaces : controller_ifaces;
        const size_t n = is_component ? 4 : 3;
        for (size_t i = 0; i < n; ++i) {
            void* p = query(obj, *begin[i].iid);
            ASSERT_NE(p, nullptr);
            const void* const* table = *static_cast<const void* const* const*>(p);
            for (size_t slot = 0; slot < begin[i].slots; ++slot) EXPECT_NE(table[slot], nullptr) << i << ":" << slot;
            for (size_t j = 0; j < n; ++j) {
                void* q = query(p, *begin[j].iid);
                EXPECT_NE(q, nullptr);
                release(q);
            }
            EXPECT_EQ(query(p, kFUnknownIid), obj);
            release(obj);
            release(p);
        }
        void* none = obj;
        EXPECT_EQ(VCALL(FUnknownVtbl, obj, queryInterface, kIPlugViewIid.data(), &none), kNoInterface);
        EXPECT_EQ(none, nullptr);
        EXPECT_EQ(release(obj), 0u);
    }
}

struct Ctrl {
    void* ctrl;
    int host_context = 0;
    explicit Ctrl(LoadedVst3& m, const Uid& cid) : ctrl(m.create(cid, kIEditControllerIid)) {
        if (ctrl) VCALL(IEditControllerVtbl, ctrl, initialize, &host_context);
    }
    ~Ctrl() {
        if (ctrl) release(ctrl);
    }
    std::u16string text(ParamID id, double normalized) {
        char16 buf[128];
        std::fill(std::begin(buf), std::end(buf), u'#');
        if (VCALL(IEditControllerVtbl, ctrl, getParamStringByValue, id, normalized, buf) != kResultOk) return u"<refused>";
        return std::u16string(buf);
    }
    double value(ParamID id, const char16* text) {
        double v = -99;
        VCALL(IEditControllerVtbl, ctrl, getParamValueByString, id, const_cast<char16*>(text), &v);
        return v;
    }
    double normalized(ParamID id) { return VCALL(IEditControllerVtbl, ctrl, getParamNormalized, id); }
};

// A host that passes null pointers or wrong indices gets a refusal, never a
// crash.
TEST_F(Vst3Module, NullPointersAndBadIndicesAreRefused) {
    void* f = module->factory;
    EXPECT_NE(VCALL(IPluginFactory3Vtbl, f, getFactoryInfo, nullptr), kResultOk);
    EXPECT_NE(VCALL(IPluginFactory3Vtbl, f, getClassInfo, 0, nullptr), kResultOk);
    EXPECT_NE(VCALL(IPluginFactory3Vtbl, f, getClassInfo2, 1, nullptr), kResultOk);
    EXPECT_NE(VCALL(IPluginFactory3Vtbl, f, getClassInfoUnicode, 0, nullptr), kResultOk);
    void* out = nullptr;
    EXPECT_NE(VCALL(IPluginFactory3Vtbl, f, createInstance, nullptr, reinterpret_cast<const char*>(kFUnknownIid.data()), &out), kResultOk);
    EXPECT_NE(VCALL(IPluginFactory3Vtbl, f, createInstance, reinterpret_cast<const char*>(component_cid.data()), nullptr, &out), kResultOk);
    EXPECT_NE(VCALL(IPluginFactory3Vtbl, f, createInstance, reinterpret_cast<const char*>(component_cid.data()),
                    reinterpret_cast<const char*>(kIComponentIid.data()), nullptr),
              kResultOk);
    EXPECT_NE(VCALL(IPluginFactory3Vtbl, f, queryInterface, kFUnknownIid.data(), nullptr), kResultOk);
    EXPECT_NE(VCALL(IPluginFactory3Vtbl, f, queryInterface, nullptr, &out), kResultOk);

    Proc p(*module, component_cid);
    EXPECT_NE(VCALL(FUnknownVtbl, p.comp, queryInterface, kIComponentIid.data(), nullptr), kResultOk);
    EXPECT_EQ(VCALL(FUnknownVtbl, p.comp, queryInterface, nullptr, &out), kNoInterface);
    EXPECT_EQ(VCALL(IComponentVtbl, p.comp, getBusInfo, kAudio, kInput, 0, nullptr), kInvalidArgument);
    EXPECT_EQ(VCALL(IComponentVtbl, p.comp, getBusInfo, kAudio, kInput, 0x7fffffff, nullptr), kInvalidArgument);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p.proc, getBusArrangement, kInput, 0, nullptr), kInvalidArgument);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p.proc, setBusArrangements, nullptr, 1, nullptr, 1), kResultFalse);
    EXPECT_NE(VCALL(IAudioProcessorVtbl, p.proc, setupProcessing, nullptr), kResultOk);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p.proc, process, nullptr), kResultOk);  // nothing to do

    Ctrl c(*module, controller_cid);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getParameterInfo, 0, nullptr), kResultFalse);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getParamStringByValue, kCutoffId, 0.5, nullptr), kResultFalse);
    double v = 0;
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getParamValueByString, kCutoffId, nullptr, &v), kResultFalse);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getParamValueByString, kCutoffId, const_cast<char16*>(u"3"), nullptr), kResultFalse);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setComponentHandler, nullptr), kResultOk);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, createView, nullptr), nullptr);
    void* midi = query(c.ctrl, kIMidiMappingIid);
    EXPECT_EQ(VCALL(IMidiMappingVtbl, midi, getMidiControllerAssignment, 0, 0, 1, nullptr), kInvalidArgument);
    release(midi);
}

// ---------------------------------------------------------------------------
// Component and processing

TEST_F(Vst3Module, BusesAndArrangements) {
    void* c = module->create(component_cid, kIComponentIid);
    void* p = query(c, kIAudioProcessorIid);
    int host_context = 0;  // the plug-in only stores it
    EXPECT_EQ(VCALL(IComponentVtbl, c, initialize, &host_context), kResultOk);
    EXPECT_EQ(VCALL(IComponentVtbl, c, initialize, &host_context), kResultFalse);
    uint8_t cid[16] = {};
    EXPECT_EQ(VCALL(IComponentVtbl, c, getControllerClassId, cid), kResultOk);
    EXPECT_EQ(std::memcmp(cid, controller_cid.data(), 16), 0);
    EXPECT_EQ(VCALL(IComponentVtbl, c, getControllerClassId, nullptr), kResultFalse);
    EXPECT_EQ(VCALL(IComponentVtbl, c, setIoMode, 0), kNotImplemented);
    EXPECT_EQ(VCALL(IComponentVtbl, c, getBusCount, kAudio, kInput), 1);
    EXPECT_EQ(VCALL(IComponentVtbl, c, getBusCount, kAudio, kOutput), 1);
    EXPECT_EQ(VCALL(IComponentVtbl, c, getBusCount, kEvent, kInput), 0);
    EXPECT_EQ(VCALL(IComponentVtbl, c, getBusCount, kEvent, kOutput), 0);
    BusInfo bus{};
    ASSERT_EQ(VCALL(IComponentVtbl, c, getBusInfo, kAudio, kOutput, 0, &bus), kResultOk);
    EXPECT_EQ(bus.direction, kOutput);
    EXPECT_EQ(bus.channelCount, 1);
    EXPECT_EQ(text16(bus.name), u"Output");
    EXPECT_EQ(bus.flags, 1u);
    ASSERT_EQ(VCALL(IComponentVtbl, c, getBusInfo, kAudio, kInput, 0, &bus), kResultOk);
    EXPECT_EQ(text16(bus.name), u"Input");
    for (auto args : {std::array<int32_t, 3>{kAudio, kOutput, 1}, {kAudio, kInput, -1}, {kEvent, kInput, 0}, {kAudio, 2, 0}}) {
        EXPECT_EQ(VCALL(IComponentVtbl, c, getBusInfo, args[0], args[1], args[2], &bus), kInvalidArgument);
        EXPECT_EQ(VCALL(IComponentVtbl, c, activateBus, args[0], args[1], args[2], 1), kInvalidArgument);
    }
    EXPECT_EQ(VCALL(IComponentVtbl, c, getRoutingInfo, nullptr, nullptr), kNotImplemented);

    SpeakerArrangement mono = kSpeakerM, stereo = 3, two[2] = {kSpeakerM, kSpeakerM};
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, setBusArrangements, &mono, 1, &mono, 1), kResultOk);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, setBusArrangements, &mono, 1, &stereo, 1), kResultFalse);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, setBusArrangements, two, 2, &mono, 1), kResultFalse);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, setBusArrangements, &mono, -1, &mono, 1), kInvalidArgument);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, setBusArrangements, nullptr, 0, nullptr, 0), kResultFalse);
    SpeakerArrangement arr = 0;
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, getBusArrangement, kOutput, 0, &arr), kResultOk);
    EXPECT_EQ(arr, kSpeakerM);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, getBusArrangement, kOutput, 1, &arr), kInvalidArgument);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, canProcessSampleSize, kSample32), kResultTrue);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, canProcessSampleSize, kSample64), kNotImplemented);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, getLatencySamples), 0u);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, getTailSamples), 0u);
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p, setProcessing, 1), kNotImplemented);
    void* req = query(c, kIProcessContextRequirementsIid);
    EXPECT_EQ(VCALL(IProcessContextRequirementsVtbl, req, getProcessContextRequirements), 0u);
    void* cp = query(c, kIConnectionPointIid);
    EXPECT_EQ(VCALL(IConnectionPointVtbl, cp, connect, nullptr), kInvalidArgument);
    EXPECT_EQ(VCALL(IConnectionPointVtbl, cp, connect, cp), kResultOk);
    EXPECT_EQ(VCALL(IConnectionPointVtbl, cp, disconnect, cp), kResultOk);
    EXPECT_EQ(VCALL(IConnectionPointVtbl, cp, notify, nullptr), kResultOk);
    EXPECT_EQ(VCALL(IComponentVtbl, c, terminate), kResultOk);
    EXPECT_EQ(VCALL(IComponentVtbl, c, initialize, &host_context), kResultOk);  // starts over
    release(cp);
    release(req);
    release(p);
    EXPECT_EQ(release(c), 0u);
}

TEST_F(Vst3Module, OutputMatchesTheEngine) {
    Proc p(*module, component_cid);
    std::vector<float> signal = test_signal(48000, 31);
    vexo::Engine e;
    vexo::engine_init(&e);
    vexo::engine_set_sample_rate(&e, 48000.0f);
    vexo::engine_reset(&e);
    std::vector<float> expected(signal.size()), got(signal.size());
    uint32_t saved = vexo::platform_denormals_off();
    vexo::engine_process(&e, signal.data(), expected.data(), static_cast<uint32_t>(signal.size()));
    vexo::platform_denormals_restore(saved);
    Lcg rng(5);
    for (size_t pos = 0; pos < signal.size();) {
        size_t n = std::min<size_t>(rng.below(1025), signal.size() - pos);  // zero-length blocks too
        std::copy(signal.begin() + pos, signal.begin() + pos + n, p.in.begin());
        ASSERT_EQ(p.run(static_cast<int32_t>(n)), kResultOk);
        std::copy(p.out.begin(), p.out.begin() + n, got.begin() + pos);
        pos += n;
    }
    EXPECT_EQ(first_difference(got, expected), -1);
}

TEST_F(Vst3Module, QueuesApplyAtBlockStartAndEnd) {
    // The output parameter (cutoff_mod = 16 * cutoff + 8 with no LFO depth)
    // shows when a value reached the engine.
    Proc p(*module, component_cid);
    p.run(16);  // defaults: 248 is the initial report value, nothing sent
    EXPECT_TRUE(p.reported().empty());

    p.in_changes.point(kCutoffId, 0, 0.5);  // 7.5 -> 8, before the block
    p.run(480);
    ASSERT_EQ(p.reported().size(), 1u);
    EXPECT_EQ(p.reported()[0].offset, 479);
    EXPECT_DOUBLE_EQ(p.reported()[0].value, 136.0 / 255.0);

    p.run(480);
    EXPECT_TRUE(p.reported().empty());  // one point per change only

    p.in_changes.point(kCutoffId, 10, 2.0 / 15.0);  // after the block: heard from the next
    p.run(480);
    EXPECT_TRUE(p.reported().empty());
    p.run(480);
    ASSERT_EQ(p.reported().size(), 1u);
    EXPECT_DOUBLE_EQ(p.reported()[0].value, 40.0 / 255.0);

    // Three points: the first before, the last after, the middle never.
    p.in_changes.point(kCutoffId, 0, 4.0 / 15.0);
    p.in_changes.point(kCutoffId, 20, 9.0 / 15.0);
    p.in_changes.point(kCutoffId, 40, 12.0 / 15.0);
    p.run(480);
    ASSERT_EQ(p.reported().size(), 1u);
    EXPECT_DOUBLE_EQ(p.reported()[0].value, 72.0 / 255.0);
    p.run(480);
    EXPECT_DOUBLE_EQ(p.reported().at(0).value, 200.0 / 255.0);

    // The output parameter's ID and unknown IDs change nothing.
    p.in_changes.point(kModId, 0, 0.1);
    p.in_changes.point(12345, 0, 0.1);
    p.run(480);
    EXPECT_TRUE(p.reported().empty());

    // Parameter changes in empty blocks (hosts flush them that way) are
    // taken; the change shows at the next tick.
    p.in_changes.point(kCutoffId, 0, 1.0);
    p.run(0);
    EXPECT_TRUE(p.reported().empty());
    p.run(480);
    ASSERT_EQ(p.reported().size(), 1u);
    EXPECT_DOUBLE_EQ(p.reported()[0].value, 248.0 / 255.0);

    // A reset moves cutoff_mod to the base value without a tick; an empty
    // block then reports it at offset 0.
    p.in_changes.point(kCutoffId, 0, 0.0);
    p.run(0);
    VCALL(IComponentVtbl, p.comp, setActive, 0);
    VCALL(IComponentVtbl, p.comp, setActive, 1);
    p.run(0);
    ASSERT_EQ(p.reported().size(), 1u);
    EXPECT_EQ(p.reported()[0].offset, 0);
    EXPECT_DOUBLE_EQ(p.reported()[0].value, 8.0 / 255.0);
}

TEST_F(Vst3Module, SilenceWithoutBusesOrChannels) {
    // Buses never activated: silence, but parameter changes are still taken.
    Proc quiet(*module, component_cid, 48000, false);
    std::fill(quiet.in.begin(), quiet.in.end(), 0.5f);
    std::fill(quiet.out.begin(), quiet.out.end(), 9.0f);
    quiet.in_changes.point(kLfoSpeedId, 0, 1.0);
    quiet.run(256);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(quiet.out[i], 0.0f);
    EXPECT_EQ(values_in(quiet.state()), (Triple{15, 0, 15}));

    // Samples but no input channel: nothing filtered, the output is silent.
    Proc p(*module, component_cid);
    std::fill(p.out.begin(), p.out.end(), 9.0f);
    float* outs[1] = {p.out.data()};
    AudioBusBuffers ob{1, 0, {outs}};
    ProcessData d{};
    d.numSamples = 64;
    d.numOutputs = 1;
    d.outputs = &ob;
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p.proc, process, &d), kResultOk);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(p.out[i], 0.0f);
    // No buffers at all, as hosts do to flush parameters.
    ProcessData flush{};
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p.proc, process, &flush), kResultOk);
    flush.numSamples = 32;  // even with samples claimed
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p.proc, process, &flush), kResultOk);
    AudioBusBuffers empty_bus{0, 0, {nullptr}};
    flush.numInputs = flush.numOutputs = 1;
    flush.inputs = flush.outputs = &empty_bus;
    EXPECT_EQ(VCALL(IAudioProcessorVtbl, p.proc, process, &flush), kResultOk);
}

TEST_F(Vst3Module, StateRoundTripAndRefusals) {
    {
        // A fresh, never activated component records sample rate 0.
        void* c = module->create(component_cid, kIComponentIid);
        VCALL(IComponentVtbl, c, initialize, nullptr);
        MemoryStream s;
        ASSERT_EQ(VCALL(IComponentVtbl, c, getState, &s), kResultOk);
        EXPECT_EQ(s.bytes.size(), 5632u);
        vexo::StateArchive a;
        ASSERT_EQ(vexo::state_archive_decode(&a, s.bytes.data(), s.bytes.size()), 0);
        size_t len = 0;
        const void* rate = vexo::state_map_get(a.info, "sample_rate", 11, &len);
        ASSERT_EQ(len, 4u);
        float r = -1;
        std::memcpy(&r, rate, 4);
        EXPECT_EQ(r, 0.0f);
        vexo::state_archive_free(&a);
        release(c);
    }
    Proc a(*module, component_cid);
    a.in_changes.point(kCutoffId, 0, 3.0 / 15.0);
    a.in_changes.point(kLfoAmtId, 0, 9.0 / 15.0);
    a.in_changes.point(kLfoSpeedId, 0, 12.0 / 15.0);
    a.run(64);
    const std::vector<unsigned char> saved = a.state();
    EXPECT_EQ(values_in(saved), (Triple{3, 9, 12}));

    Proc b(*module, component_cid);
    b.in_changes.point(kCutoffId, 0, 1.0 / 15.0);  // a host value from before the load...
    b.run(16);
    ASSERT_EQ(b.load(saved), kResultOk);
    b.run(16);  // ...is overwritten by the loaded one
    EXPECT_EQ(values_in(b.state()), (Triple{3, 9, 12}));

    std::vector<unsigned char> wrong_id = saved;
    for (size_t i = 0; i + 10 <= wrong_id.size(); ++i)
        if (std::memcmp(&wrong_id[i], "brume-vexo", 10) == 0) wrong_id[i] = 'x';
    const std::vector<std::vector<unsigned char>> refused = {
        {}, std::vector<unsigned char>(saved.begin(), saved.begin() + 2000), wrong_id,
        state_stream("vst3", std::numeric_limits<float>::quiet_NaN(), 1, 1), std::vector<unsigned char>(5632, 0x33)};
    for (const auto& bytes : refused) {
        EXPECT_EQ(b.load(bytes), kResultFalse);
        b.run(16);
        EXPECT_EQ(values_in(b.state()), (Triple{3, 9, 12}));
    }
    EXPECT_EQ(VCALL(IComponentVtbl, b.comp, setState, nullptr), kResultFalse);
    EXPECT_EQ(VCALL(IComponentVtbl, b.comp, getState, nullptr), kResultFalse);
    MemoryStream unseekable;
    unseekable.bytes = saved;
    unseekable.fail_seek = true;
    EXPECT_EQ(VCALL(IComponentVtbl, b.comp, setState, &unseekable), kResultFalse);
    MemoryStream short_writes;
    short_writes.max_write = 100;
    EXPECT_EQ(VCALL(IComponentVtbl, b.comp, getState, &short_writes), kResultFalse);

    // Loaded values are snapped to the row's steps.
    ASSERT_EQ(b.load(state_stream("lv2", 7.5f, 20, -1)), kResultOk);
    b.run(1);
    EXPECT_EQ(values_in(b.state()), (Triple{8, 15, 0}));
}

// The same parameter values saved by either format give the same document
// apart from "format", and each format loads the other's.
TEST_F(Vst3Module, StatesCrossBetweenFormats) {
    Proc v(*module, component_cid, 44100);
    v.in_changes.point(kCutoffId, 0, 5.0 / 15.0);
    v.in_changes.point(kLfoAmtId, 0, 6.0 / 15.0);
    v.in_changes.point(kLfoSpeedId, 0, 13.0 / 15.0);
    v.run(8);
    const std::vector<unsigned char> vst3_bytes = v.state();

    LoadedModule lv2(g_lv2_path);
    ASSERT_NE(lv2.descriptor(), nullptr);
    HostFeatures host;
    Lv2Plugin l(lv2.descriptor(), 44100, host.list);
    l.set_controls(5, 6, 13);
    lv2.descriptor()->activate(l.handle);
    l.run(8);
    const LV2_State_Interface* iface = state_interface(lv2.descriptor());
    PropertyStore store;
    ASSERT_EQ(iface->save(l.handle, PropertyStore::store, &store, 0, host.list), LV2_STATE_SUCCESS);
    const std::vector<unsigned char>& lv2_bytes = store.props.at(0).value;

    ASSERT_EQ(vst3_bytes.size(), lv2_bytes.size());
    vexo::StateArchive a, b;
    ASSERT_EQ(vexo::state_archive_decode(&a, vst3_bytes.data(), vst3_bytes.size()), 0);
    ASSERT_EQ(vexo::state_archive_decode(&b, lv2_bytes.data(), lv2_bytes.size()), 0);
    for (const char* key : {"id", "version_major", "version_minor", "version_revision", "version_build", "platform",
                            "sample_rate", "format"}) {
        size_t la = 0, lb = 0;
        const void* va = vexo::state_map_get(a.info, key, std::strlen(key), &la);
        const void* vb = vexo::state_map_get(b.info, key, std::strlen(key), &lb);
        ASSERT_TRUE(va && vb) << key;
        bool same = la == lb && std::memcmp(va, vb, la) == 0;
        EXPECT_EQ(same, std::string(key) != "format") << key;
    }
    EXPECT_EQ(values_in(vst3_bytes), values_in(lv2_bytes));
    vexo::state_archive_free(&a);
    vexo::state_archive_free(&b);

    // Each loads in the other.
    Proc v2(*module, component_cid);
    ASSERT_EQ(v2.load(lv2_bytes), kResultOk);
    v2.run(1);
    EXPECT_EQ(values_in(v2.state()), (Triple{5, 6, 13}));
    Lv2Plugin l2(lv2.descriptor(), 48000, host.list);
    for (uint32_t port = 2; port <= 4; ++port) lv2.descriptor()->connect_port(l2.handle, port, nullptr);
    lv2.descriptor()->activate(l2.handle);
    PropertyStore from_vst3;
    from_vst3.props.push_back(
        {host.map.map(host.map.handle, "https://brume-audio.org/plugins/vexo#state_data"), 0, 3, vst3_bytes});
    ASSERT_EQ(iface->restore(l2.handle, PropertyStore::retrieve, &from_vst3, 0, host.list), LV2_STATE_SUCCESS);
    l2.run(1);
    PropertyStore again;
    iface->save(l2.handle, PropertyStore::store, &again, 0, host.list);
    EXPECT_EQ(values_in(again.props.at(0).value), (Triple{5, 6, 13}));
}

// ---------------------------------------------------------------------------
// Controller

TEST_F(Vst3Module, ControllerDescribesParameters) {
    Ctrl c(*module, controller_cid);
    ASSERT_NE(c.ctrl, nullptr);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, initialize, &c.host_context), kResultFalse);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getParameterCount), 4);
    struct Row {
        ParamID id;
        const char16* title;
        const char16* short_title;
        int32_t steps;
        double def;
        int32_t flags;
    } rows[4] = {{kCutoffId, u"Cutoff", u"Cutoff", 15, 1.0, 1},
                 {kLfoAmtId, u"LFO Amount", u"LFO Amt", 15, 0.0, 1},
                 {kLfoSpeedId, u"LFO Speed", u"LFO Speed", 15, 7.0 / 15.0, 1},
                 {kModId, u"Modulated Cutoff", u"Mod Cutoff", 255, 248.0 / 255.0, 2}};
    for (int i = 0; i < 4; ++i) {
        ParameterInfo info{};
        ASSERT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getParameterInfo, i, &info), kResultOk);
        EXPECT_EQ(info.id, rows[i].id);
        EXPECT_EQ(text16(info.title), rows[i].title);
        EXPECT_EQ(text16(info.shortTitle), rows[i].short_title);
        EXPECT_EQ(text16(info.units), u"");
        EXPECT_EQ(info.stepCount, rows[i].steps);
        EXPECT_DOUBLE_EQ(info.defaultNormalizedValue, rows[i].def);
        EXPECT_EQ(info.flags, rows[i].flags);
        EXPECT_EQ(info.unitId, 0);
        EXPECT_DOUBLE_EQ(c.normalized(rows[i].id), rows[i].def);
    }
    ParameterInfo info{};
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getParameterInfo, 4, &info), kResultFalse);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getParameterInfo, -1, &info), kResultFalse);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setState, nullptr), kNotImplemented);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getState, nullptr), kNotImplemented);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, createView, "editor"), nullptr);
    void* midi = query(c.ctrl, kIMidiMappingIid);
    ParamID mapped = 0;
    EXPECT_EQ(VCALL(IMidiMappingVtbl, midi, getMidiControllerAssignment, 0, 0, 7, &mapped), kInvalidArgument);
    release(midi);
}

TEST_F(Vst3Module, ControllerTextsAndConversions) {
    Ctrl c(*module, controller_cid);
    struct TextCase {
        ParamID id;
        double normalized;
        const char16* text;
    } texts[] = {{kCutoffId, 1.0, u"15.00"},  {kCutoffId, 0.5, u"7.50"},       {kCutoffId, 0.02, u"0.29"},
                 {kCutoffId, 0.0, u"0.00"},   {kModId, 248.0 / 255.0, u"248.00"}, {kLfoAmtId, 7.0 / 15.0, u"7.00"},
                 {kCutoffId, -0.1, u"-1.50"}, {kModId, 1.0, u"255.00"}};
    for (const auto& t : texts) EXPECT_EQ(c.text(t.id, t.normalized), t.text) << t.normalized;
    EXPECT_EQ(c.text(42, 0.5), u"<refused>");

    struct ValueCase {
        ParamID id;
        const char16* text;
        double normalized;
    } values[] = {{kLfoSpeedId, u"7.9", 7.0 / 15.0}, {kLfoSpeedId, u"-3", -0.2}, {kCutoffId, u"20", 4.0 / 3.0},
                  {kCutoffId, u"", 0.0},              {kCutoffId, u"abc", 0.0},  {kModId, u"200", 200.0 / 255.0}};
    for (const auto& v : values) EXPECT_DOUBLE_EQ(c.value(v.id, v.text), v.normalized);
    double untouched = -99;
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, getParamValueByString, 42, const_cast<char16*>(u"3"), &untouched), kResultFalse);

    EXPECT_DOUBLE_EQ(VCALL(IEditControllerVtbl, c.ctrl, normalizedParamToPlain, kCutoffId, 0.5), 7.5);
    EXPECT_DOUBLE_EQ(VCALL(IEditControllerVtbl, c.ctrl, plainParamToNormalized, kModId, 51.0), 0.2);
    EXPECT_DOUBLE_EQ(VCALL(IEditControllerVtbl, c.ctrl, normalizedParamToPlain, kCutoffId, 2.0), 30.0);  // not limited

    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setParamNormalized, kLfoAmtId, 0.5), kResultOk);
    EXPECT_DOUBLE_EQ(c.normalized(kLfoAmtId), 8.0 / 15.0);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setParamNormalized, kModId, 200.0 / 255.0), kResultOk);
    EXPECT_DOUBLE_EQ(c.normalized(kModId), 200.0 / 255.0);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setParamNormalized, kCutoffId, 7.0), kResultOk);
    EXPECT_DOUBLE_EQ(c.normalized(kCutoffId), 1.0);  // limited to the range
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setParamNormalized, 42, 0.5), kResultFalse);
}

TEST_F(Vst3Module, ControllerFollowsComponentState) {
    Ctrl c(*module, controller_cid);
    MemoryStream s;
    s.bytes = state_stream("vst3", 3.6f, 2, 11);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setComponentState, &s), kResultOk);
    EXPECT_DOUBLE_EQ(c.normalized(kCutoffId), 4.0 / 15.0);
    EXPECT_DOUBLE_EQ(c.normalized(kLfoSpeedId), 11.0 / 15.0);
    for (size_t i = 0; i + 10 <= s.bytes.size(); ++i)
        if (std::memcmp(&s.bytes[i], "brume-vexo", 10) == 0) s.bytes[i] = 'x';
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setComponentState, &s), kResultFalse);
    EXPECT_DOUBLE_EQ(c.normalized(kCutoffId), 4.0 / 15.0);
    EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setComponentState, nullptr), kResultFalse);
}

TEST_F(Vst3Module, ControllerHoldsOneHandlerReference) {
    Handler h1, h2;
    {
        Ctrl c(*module, controller_cid);
        EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setComponentHandler, &h1), kResultOk);
        EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setComponentHandler, &h1), kResultOk);
        EXPECT_EQ(h1.refs.load(), 2);
        EXPECT_EQ(VCALL(IEditControllerVtbl, c.ctrl, setComponentHandler, &h2), kResultOk);
        EXPECT_EQ(h1.refs.load(), 1);
        EXPECT_EQ(h2.refs.load(), 2);
    }
    EXPECT_EQ(h2.refs.load(), 1);  // released with the controller
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <vst3 module> <lv2 module>\n", argv[0]);
        return 2;
    }
    g_vst3_path = argv[1];
    g_lv2_path = argv[2];
    return RUN_ALL_TESTS();
}
