// One thread runs the plug-in without pause while another saves and restores
// its state thousands of times, in both formats. Whatever the interleaving,
// a restore is applied whole (never a mix of two restores), and once both
// threads stop the instance holds exactly the last restored values, or the
// last port values where the host drives the ports. Built with
// ThreadSanitizer in CI. Usage: stress_tests <lv2 module> <vst3 module>.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "lv2_host.h"
#include "vst3_host.h"
#include "state/state_alloc.h"
#include "state/state_archive.h"
#include "state_values.h"
#include "test_signal.h"

using namespace vexo_test;

namespace {

const char* g_module_path = nullptr;
const char* g_vst3_path = nullptr;
constexpr int kRounds = 3000;

// Restores use triples in which each value determines the other two, so a
// mix of two restores cannot pass for one.
Triple restore_triple(int k) {
    return Triple{static_cast<float>(k % 16), static_cast<float>((k + 5) % 16), static_cast<float>((k + 10) % 16)};
}
bool is_restore_triple(const Triple& t) { return t == restore_triple(static_cast<int>(t.c)); }

std::vector<unsigned char> stream_of(const Triple& t) { return state_stream("lv2", t.c, t.a, t.s); }

class Stress : public ::testing::Test {
protected:
    void SetUp() override {
        module = std::make_unique<LoadedModule>(g_module_path);
        ASSERT_NE(module->descriptor(), nullptr);
        desc = module->descriptor();
        iface = state_interface(desc);
        key = host.map.map(host.map.handle, "https://brume-audio.org/plugins/vexo#state_data");
        chunk = host.map.map(host.map.handle, LV2_ATOM__Chunk);
    }
    int restore(Lv2Plugin& p, const Triple& t) {
        PropertyStore store;
        store.props.push_back({key, chunk, 3, stream_of(t)});
        return iface->restore(p.handle, PropertyStore::retrieve, &store, 0, nullptr);
    }
    Triple save(Lv2Plugin& p) {
        PropertyStore store;
        if (iface->save(p.handle, PropertyStore::store, &store, 0, nullptr) != 0 || store.props.empty()) return {};
        return values_in(store.props.back().value);
    }
    std::unique_ptr<LoadedModule> module;
    const LV2_Descriptor* desc = nullptr;
    const LV2_State_Interface* iface = nullptr;
    HostFeatures host;
    uint32_t key = 0, chunk = 0;
};

TEST_F(Stress, RestoresApplyWholeWhileRunning) {
    // The ports are not connected: only restores set the parameters.
    Lv2Plugin p(desc, 48000, host.list, 256);
    for (uint32_t port = 2; port <= 4; ++port) desc->connect_port(p.handle, port, nullptr);
    desc->activate(p.handle);
    ASSERT_EQ(restore(p, restore_triple(0)), 0);
    p.run(1);

    std::atomic<bool> stop{false};
    std::atomic<long> runs{0};
    std::thread audio([&] {
        Lcg rng(1);
        while (!stop.load(std::memory_order_relaxed)) {
            for (float& s : p.in) s = rng.noise();
            p.run(1 + rng.below(256));
            runs.fetch_add(1, std::memory_order_relaxed);
        }
    });
    int last = 0, mixed = 0, failed = 0;
    for (int k = 1; k <= kRounds; ++k) {
        last = k * 7 % 1000;
        if (restore(p, restore_triple(last)) != 0) ++failed;
        Triple seen = save(p);
        if (!is_restore_triple(seen)) ++mixed;
    }
    stop = true;
    audio.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(mixed, 0);
    EXPECT_GT(runs.load(), 0);
    p.run(1);
    EXPECT_EQ(save(p), restore_triple(last));
}

TEST_F(Stress, PortsWinOnceTheHostStops) {
    Lv2Plugin p(desc, 48000, host.list, 256);
    desc->activate(p.handle);
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        Lcg rng(2);
        while (!stop.load(std::memory_order_relaxed)) {
            for (float& s : p.in) s = rng.noise();
            // Ports change now and then, sometimes between whole steps.
            if (rng.below(4) == 0) p.controls[rng.below(3)] = static_cast<float>(rng.below(160)) / 10.0f;
            p.run(1 + rng.below(256));
        }
    });
    for (int k = 1; k <= kRounds; ++k) {
        restore(p, restore_triple(k));
        save(p);
    }
    stop = true;
    audio.join();
    p.run(1);
    auto step = [](float v) { return static_cast<float>(static_cast<int>(v + 0.5f)); };
    EXPECT_EQ(save(p), (Triple{step(p.controls[0]), step(p.controls[1]), step(p.controls[2])}));
}

// The VST3 component: process on one thread (with host parameter changes
// now and then), setState and getState on another.
TEST(Vst3Stress, StatesApplyWholeWhileProcessing) {
    LoadedVst3 module(g_vst3_path);
    ASSERT_NE(module.factory, nullptr);
    Proc p(module, module.class_id(0), 48000, true, 256);
    ASSERT_NE(p.proc, nullptr);
    auto load = [&](const Triple& t) {
        MemoryStream s;
        s.bytes = state_stream("vst3", t.c, t.a, t.s);
        return VCALL(IComponentVtbl, p.comp, setState, &s);
    };
    ASSERT_EQ(load(restore_triple(0)), kResultOk);
    p.run(1);

    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    std::thread audio([&] {
        Lcg rng(3);
        while (!stop.load(std::memory_order_relaxed)) {
            for (float& s : p.in) s = rng.noise();
            p.run(static_cast<int32_t>(rng.below(257)));
            blocks.fetch_add(1, std::memory_order_relaxed);
        }
    });
    int last = 0, mixed = 0, failed = 0;
    for (int k = 1; k <= kRounds; ++k) {
        last = k * 13 % 1000;
        if (load(restore_triple(last)) != kResultOk) ++failed;
        if (!is_restore_triple(values_in(p.state()))) ++mixed;
    }
    stop = true;
    audio.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(mixed, 0);
    EXPECT_GT(blocks.load(), 0);
    p.run(1);
    EXPECT_EQ(values_in(p.state()), restore_triple(last));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 3) return 2;
    g_module_path = argv[1];
    g_vst3_path = argv[2];
    return RUN_ALL_TESTS();
}
