// run on the audio thread allocates nothing, takes no lock and does not
// yield, whatever the host feeds it. Usage: lv2_realtime_tests <module>.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <limits>

#include "audio_thread_guard.h"
#include "lv2_host.h"
#include "test_signal.h"

using namespace vexo_test;

namespace {

const char* g_module_path = nullptr;

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
        total.allocations += c.allocations;
        total.frees += c.frees;
        total.locks += c.locks;
        total.yields += c.yields;
    }
    EXPECT_EQ(total.allocations, 0u);
    EXPECT_EQ(total.frees, 0u);
    EXPECT_EQ(total.locks, 0u);
    EXPECT_EQ(total.yields, 0u);
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
        total.allocations += c.allocations;
        total.frees += c.frees;
        total.locks += c.locks;
        total.yields += c.yields;
    }
    stop = true;
    state_thread.join();
    EXPECT_EQ(total.allocations, 0u);
    EXPECT_EQ(total.frees, 0u);
    EXPECT_EQ(total.locks, 0u);
    EXPECT_EQ(total.yields, 0u);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) return 2;
    g_module_path = argv[1];
    return RUN_ALL_TESTS();
}
