// One thread runs the plug-in without pause while another saves and restores
// its state thousands of times. Whatever the interleaving, a restore is
// applied whole (never a mix of two restores), and once both threads stop
// the instance holds exactly the last restored values, or the last port
// values where the host drives the ports. Built with ThreadSanitizer in CI.
// Usage: lv2_stress_tests <module>.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "lv2_host.h"
#include "state/state_alloc.h"
#include "state/state_archive.h"
#include "test_signal.h"

using namespace vexo_test;

namespace {

const char* g_module_path = nullptr;
constexpr int kRounds = 3000;

struct Triple {
    float c = -1, a = -1, s = -1;
    bool operator==(const Triple&) const = default;
};

// Restores use triples in which each value determines the other two, so a
// mix of two restores cannot pass for one.
Triple restore_triple(int k) {
    return Triple{static_cast<float>(k % 16), static_cast<float>((k + 5) % 16), static_cast<float>((k + 10) % 16)};
}
bool is_restore_triple(const Triple& t) { return t == restore_triple(static_cast<int>(t.c)); }

std::vector<unsigned char> stream_of(const Triple& t) {
    size_t len = 0;
    void* p = vexo::plugin_state_encode("lv2", 3, 48000, t.c, t.a, t.s, &len);
    std::vector<unsigned char> b(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + len);
    vexo::state_free(p);
    return b;
}

Triple triple_in(const std::vector<unsigned char>& stream) {
    Triple t;
    vexo::StateSink sink{&t, [](void*) {}, [](void*) {},
                         [](void* d, uint32_t i, float v) {
                             Triple* t = static_cast<Triple*>(d);
                             (i == 0 ? t->c : i == 1 ? t->a : t->s) = v;
                         }};
    vexo::plugin_state_load(stream.data(), stream.size(), &sink);
    return t;
}

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
        return triple_in(store.props.back().value);
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

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) return 2;
    g_module_path = argv[1];
    return RUN_ALL_TESTS();
}
