// The audio path of both formats (LV2 run, VST3 process) allocates nothing,
// takes no lock and does not yield, whatever the host feeds it and whatever
// the state operations do at the same time.
// Usage: realtime_tests <lv2 module> <vst3 module>.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <limits>

#include "audio_thread_guard.h"
#include "lv2_host.h"
#include "state_values.h"
#include "vst3_host.h"
#include "test_signal.h"

using namespace vexo_test;

namespace {

const char* g_module_path = nullptr;

void expect_none(const AudioThreadCounts& c) {
    EXPECT_EQ(c.allocations, 0u);
    EXPECT_EQ(c.frees, 0u);
    EXPECT_EQ(c.locks, 0u);
    EXPECT_EQ(c.yields, 0u);
}
const char* g_vst3_path = nullptr;

TEST(Lv2Realtime, RunNeitherAllocatesNorLocks) {
    LoadedModule module(g_module_path);
    ASSERT_NE(module.descriptor(), nullptr);
    HostFeatures host;
    Lv2Plugin p(module.descriptor(), 44100, host.list);
    module.descriptor()->activate(p.handle);
    Lcg rng(5);
    const float specials[] = {7.5f, -3.0f, 1e30f, std::numeric_limits<float>::quiet_NaN(), 15.0f};

    // The guard itself must see an allocation, or the test proves nothing.
    audio_guard_begin();
    void* volatile probe = std::malloc(16);
    std::free(probe);
    AudioThreadCounts self_check = audio_guard_end();
    ASSERT_EQ(self_check.allocations, 1u);

    AudioThreadCounts total;
    for (int block = 0; block < 2000; ++block) {
        uint32_t n = block % 10 == 0 ? 0 : 1 + rng.below(2048);
        for (uint32_t i = 0; i < n; ++i) p.in[i] = rng.noise();
        for (float& c : p.controls) c = rng.below(4) == 0 ? specials[rng.below(5)] : static_cast<float>(rng.below(16));
        audio_guard_begin();
        p.run(n);
        AudioThreadCounts c = audio_guard_end();
        total += c;
    }
    expect_none(total);
}

// The same while another thread saves and restores the state all the time:
// run meets a held lock now and then and must carry on without waiting.
TEST(Lv2Realtime, RunNeverWaitsForSaveOrRestore) {
    LoadedModule module(g_module_path);
    const LV2_Descriptor* desc = module.descriptor();
    ASSERT_NE(desc, nullptr);
    HostFeatures host;
    Lv2Plugin p(desc, 48000, host.list, 512);
    desc->activate(p.handle);
    const LV2_State_Interface* iface = state_interface(desc);
    ASSERT_NE(iface, nullptr);

    std::atomic<bool> stop{false};
    std::thread state_thread([&] {
        PropertyStore store;
        while (!stop.load()) {
            store.props.clear();
            iface->save(p.handle, PropertyStore::store, &store, 0, host.list);
            iface->restore(p.handle, PropertyStore::retrieve, &store, 0, host.list);
        }
    });
    AudioThreadCounts total;
    Lcg rng(8);
    for (int block = 0; block < 20000; ++block) {
        for (float& c : p.controls) c = static_cast<float>(rng.below(16));
        audio_guard_begin();
        p.run(1 + rng.below(512));
        AudioThreadCounts c = audio_guard_end();
        total += c;
    }
    stop = true;
    state_thread.join();
    expect_none(total);
}

// process with parameter queues, empty blocks and odd buffers, while
// another thread calls getState and setState all the time.
TEST(Vst3Realtime, ProcessNeitherAllocatesNorWaits) {
    LoadedVst3 module(g_vst3_path);
    ASSERT_NE(module.factory, nullptr);
    Proc p(module, module.class_id(0), 48000, true, 2048);
    ASSERT_NE(p.proc, nullptr);
    const std::vector<unsigned char> saved = state_stream("vst3", 4, 9, 11);

    std::atomic<bool> stop{false};
    std::thread state_thread([&] {
        while (!stop.load()) {
            MemoryStream out;
            VCALL(IComponentVtbl, p.comp, getState, &out);
            MemoryStream in;
            in.bytes = saved;
            VCALL(IComponentVtbl, p.comp, setState, &in);
        }
    });
    Lcg rng(6);
    const ParamID ids[3] = {kCutoffId, kLfoAmtId, kLfoSpeedId};
    // Host objects are prepared outside the counted section, with room
    // reserved: their own containers may allocate, the plug-in must not.
    Changes in_changes, out_changes;
    out_changes.queues.push_back(Queue{});
    out_changes.queues[0].id = kModId;
    out_changes.queues[0].points.reserve(4);
    float* ins[1] = {p.in.data()};
    float* outs[1] = {p.out.data()};
    AudioBusBuffers ib{1, 0, {ins}}, ob{1, 0, {outs}};
    AudioThreadCounts total;
    for (int block = 0; block < 20000; ++block) {
        ProcessData d{};
        d.numSamples = block % 7 == 0 ? 0 : static_cast<int32_t>(1 + rng.below(2048));
        d.numInputs = d.numOutputs = 1;
        d.inputs = &ib;
        d.outputs = &ob;
        if (block % 11 == 0) d.inputs = d.outputs = nullptr;  // a flush without buffers
        in_changes.queues.clear();
        for (int k = static_cast<int>(rng.below(3)); k > 0; --k) {
            in_changes.point(ids[rng.below(3)], rng.below(2) ? 0 : d.numSamples / 2, rng.below(1001) / 1000.0);
            in_changes.point(ids[rng.below(3)], d.numSamples, rng.below(1001) / 1000.0);
        }
        out_changes.queues[0].points.clear();
        d.inputParameterChanges = &in_changes;
        d.outputParameterChanges = &out_changes;
        audio_guard_begin();
        VCALL(IAudioProcessorVtbl, p.proc, process, &d);
        AudioThreadCounts c = audio_guard_end();
        total += c;
    }
    stop = true;
    state_thread.join();
    expect_none(total);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 3) return 2;
    g_module_path = argv[1];
    g_vst3_path = argv[2];
    return RUN_ALL_TESTS();
}
