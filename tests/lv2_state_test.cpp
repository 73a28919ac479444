// The LV2 state interface of the built module, loaded by path as a host
// does: what save stores, what restore accepts and refuses, and how restored
// values meet the control ports. Usage: lv2_state_tests <module>.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "lv2_host.h"
#include "state/state_alloc.h"
#include "platform/platform.h"
#include "state/state_archive.h"
#include "state/state_map.h"
#include "state_values.h"
#include "test_signal.h"

using namespace vexo_test;

namespace {

const char* g_module_path = nullptr;
const std::string kStateKey = "https://brume-audio.org/plugins/vexo#state_data";

using Bytes = std::vector<unsigned char>;

class Lv2State : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = new LoadedModule(g_module_path); }
    static void TearDownTestSuite() {
        delete module;
        module = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(module->descriptor(), nullptr) << "cannot load " << g_module_path;
        desc = module->descriptor();
        iface = state_interface(desc);
        ASSERT_NE(iface, nullptr);
        state_key = host.map.map(host.map.handle, kStateKey.c_str());
        chunk = host.map.map(host.map.handle, LV2_ATOM__Chunk);
    }
    LV2_State_Status save(Lv2Plugin& p, PropertyStore& store) {
        return iface->save(p.handle, PropertyStore::store, &store, 0, host.list);
    }
    LV2_State_Status restore(Lv2Plugin& p, PropertyStore& store) {
        return iface->restore(p.handle, PropertyStore::retrieve, &store, 0, host.list);
    }
    LV2_State_Status restore_bytes(Lv2Plugin& p, const Bytes& b, uint32_t type = 0) {
        PropertyStore store;
        store.props.push_back({state_key, type ? type : chunk, 3, b});
        return restore(p, store);
    }
    // What the instance holds now, as its own save reports it.
    Triple saved_values(Lv2Plugin& p) {
        PropertyStore store;
        EXPECT_EQ(save(p, store), LV2_STATE_SUCCESS);
        return store.props.empty() ? Triple{} : values_in(store.props.back().value);
    }
    static LoadedModule* module;
    const LV2_Descriptor* desc = nullptr;
    const LV2_State_Interface* iface = nullptr;
    HostFeatures host;
    uint32_t state_key = 0, chunk = 0;
};
LoadedModule* Lv2State::module = nullptr;

TEST_F(Lv2State, SaveStoresOneChunkProperty) {
    Lv2Plugin p(desc, 44100, host.list);
    p.set_controls(3, 9, 12);
    desc->activate(p.handle);
    p.run(64);
    PropertyStore store;
    ASSERT_EQ(save(p, store), LV2_STATE_SUCCESS);
    ASSERT_EQ(store.props.size(), 1u);
    const auto& prop = store.props[0];
    EXPECT_EQ(prop.key, state_key);
    EXPECT_EQ(prop.type, chunk);
    EXPECT_EQ(prop.flags, static_cast<uint32_t>(LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE));
    EXPECT_EQ(prop.value.size(), 5632u);
    EXPECT_EQ(values_in(prop.value), (Triple{3, 9, 12}));
    // The document says where it came from.
    vexo::StateArchive doc;
    ASSERT_EQ(vexo::state_archive_decode(&doc, prop.value.data(), prop.value.size()), 0);
    size_t len = 0;
    const void* format = vexo::state_map_get(doc.info, "format", 6, &len);
    EXPECT_EQ(std::string(static_cast<const char*>(format), len), "lv2");
    const void* platform = vexo::state_map_get(doc.info, "platform", 8, &len);
    EXPECT_EQ(std::string(static_cast<const char*>(platform), len), vexo::platform_name());
    vexo::state_archive_free(&doc);

    store.store_result = LV2_STATE_ERR_NO_SPACE;
    EXPECT_EQ(save(p, store), LV2_STATE_ERR_UNKNOWN);
}

TEST_F(Lv2State, RestoreIntoAFreshInstance) {
    Lv2Plugin a(desc, 48000, host.list);
    a.set_controls(5, 14, 15);
    desc->activate(a.handle);
    a.run(100);
    PropertyStore store;
    ASSERT_EQ(save(a, store), LV2_STATE_SUCCESS);

    // b's control ports are not connected, so only the state can set it;
    // c is set through its ports. Both start from scratch and must sound the
    // same.
    Lv2Plugin b(desc, 48000, host.list), c(desc, 48000, host.list);
    for (uint32_t port = 2; port <= 4; ++port) desc->connect_port(b.handle, port, nullptr);
    ASSERT_EQ(restore(b, store), LV2_STATE_SUCCESS);
    desc->activate(b.handle);
    c.set_controls(5, 14, 15);
    desc->activate(c.handle);
    Lcg rng(3);
    for (size_t i = 0; i < b.in.size(); ++i) b.in[i] = c.in[i] = rng.noise();
    b.run(4096);
    c.run(4096);
    EXPECT_TRUE(same_bits(b.out, c.out));
    EXPECT_EQ(saved_values(b), (Triple{5, 14, 15}));
}

TEST_F(Lv2State, RestoredValuesAreSnapped) {
    struct { float stored; float applied; } cases[] = {{7.4f, 7}, {7.5f, 8}, {20, 15}, {-1, 0},
                                                      {std::numeric_limits<float>::infinity(), 15}};
    for (auto c : cases) {
        Lv2Plugin p(desc, 48000, host.list);
        for (uint32_t port = 2; port <= 4; ++port) desc->connect_port(p.handle, port, nullptr);
        desc->activate(p.handle);
        ASSERT_EQ(restore_bytes(p, state_stream("lv2", c.stored, c.stored, c.stored)), LV2_STATE_SUCCESS);
        p.run(1);
        EXPECT_EQ(saved_values(p), (Triple{c.applied, c.applied, c.applied})) << c.stored;
    }
}

TEST_F(Lv2State, RefusedStatesChangeNothing) {
    Bytes good = state_stream("lv2", 1, 2, 3);
    Bytes wrong_id = good;
    // "brume-vexo" sits inside info.map; change one letter of it.
    for (size_t i = 0; i + 10 <= wrong_id.size(); ++i)
        if (std::memcmp(&wrong_id[i], "brume-vexo", 10) == 0) wrong_id[i] = 'B';
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"NaN value", state_stream("lv2", std::numeric_limits<float>::quiet_NaN(), 2, 3)},
        {"truncated", Bytes(good.begin(), good.begin() + 3000)},
        {"wrong id", wrong_id},
        {"garbage", Bytes(5632, 0x41)},
        {"one zero byte", Bytes(1, 0)},
    };
    for (const Case& c : cases) {
        Lv2Plugin p(desc, 48000, host.list);
        p.set_controls(9, 4, 2);
        desc->activate(p.handle);
        p.run(32);
        EXPECT_EQ(restore_bytes(p, c.bytes), LV2_STATE_ERR_UNKNOWN) << c.name;
        EXPECT_EQ(saved_values(p), (Triple{9, 4, 2})) << c.name;
        for (uint32_t port = 2; port <= 4; ++port) desc->connect_port(p.handle, port, nullptr);
        p.run(32);  // nothing pending either
        EXPECT_EQ(saved_values(p), (Triple{9, 4, 2})) << c.name;
    }
}

TEST_F(Lv2State, OtherFormatsAndTypesRestore) {
    Lv2Plugin p(desc, 48000, host.list);
    for (uint32_t port = 2; port <= 4; ++port) desc->connect_port(p.handle, port, nullptr);
    desc->activate(p.handle);
    EXPECT_EQ(restore_bytes(p, state_stream("vst3", 6, 7, 8)), LV2_STATE_SUCCESS);
    p.run(1);
    EXPECT_EQ(saved_values(p), (Triple{6, 7, 8}));
    uint32_t other_type = host.map.map(host.map.handle, "http://lv2plug.in/ns/ext/atom#String");
    EXPECT_EQ(restore_bytes(p, state_stream("lv2", 1, 1, 1), other_type), LV2_STATE_SUCCESS);
    p.run(1);
    EXPECT_EQ(saved_values(p), (Triple{1, 1, 1}));
}

TEST_F(Lv2State, MissingPropertyIsStatusFive) {
    Lv2Plugin p(desc, 48000, host.list);
    desc->activate(p.handle);
    PropertyStore empty;
    EXPECT_EQ(restore(p, empty), LV2_STATE_ERR_NO_PROPERTY);
    ASSERT_EQ(host.log.entries.size(), 1u);
    EXPECT_EQ(host.log.entries[0].text, "Cannot restore state since property <" + kStateKey + "> could not be retrieved\n");
    EXPECT_EQ(host.log.entries[0].type, host.map.map(host.map.handle, LV2_LOG__Error));
}

TEST_F(Lv2State, NoUridMapMeansNoStateButNoCrash) {
    const LV2_Feature* log_only[] = {&host.log_feature_entry, nullptr};
    Lv2Plugin p(desc, 48000, log_only);
    ASSERT_NE(p.handle, nullptr);
    host.log.entries.clear();
    PropertyStore store;
    EXPECT_EQ(iface->save(p.handle, PropertyStore::store, &store, 0, nullptr), LV2_STATE_ERR_UNKNOWN);
    EXPECT_TRUE(store.props.empty());
    store.props.push_back({1, 1, 3, state_stream("lv2", 1, 2, 3)});
    EXPECT_EQ(iface->restore(p.handle, PropertyStore::retrieve, &store, 0, nullptr), LV2_STATE_ERR_UNKNOWN);
    ASSERT_EQ(host.log.entries.size(), 2u);
    EXPECT_EQ(host.log.entries[0].text, "Host is trying to store state but didn't provide URID map\n");
    EXPECT_EQ(host.log.entries[1].text, "Host is trying to restore state but didn't provide URID map\n");
}

// After a restore the next run applies the restored values; a port whose
// value differs from the restored one is applied again in the same run, so
// the port wins unless the host set it to the restored value.
TEST_F(Lv2State, RestoredValuesMeetControlPorts) {
    Lv2Plugin p(desc, 48000, host.list);
    p.set_controls(2, 3, 4);
    desc->activate(p.handle);
    p.run(8);
    ASSERT_EQ(restore_bytes(p, state_stream("lv2", 10, 11, 12)), LV2_STATE_SUCCESS);
    p.controls[1] = 11;  // the host follows the state for lfo_amt only
    p.run(8);
    EXPECT_EQ(saved_values(p), (Triple{2, 11, 4}));
    // cutoff's port still says 2, which differs from the restored 10: the
    // run applied the port value again. Now disconnect the ports and
    // restore: nothing overrides the state.
    for (uint32_t port = 2; port <= 4; ++port) desc->connect_port(p.handle, port, nullptr);
    ASSERT_EQ(restore_bytes(p, state_stream("lv2", 10, 11, 12)), LV2_STATE_SUCCESS);
    p.run(8);
    EXPECT_EQ(saved_values(p), (Triple{10, 11, 12}));
}

// Hosts often restore before they activate, and may save again before any
// run: neither may lose the restored values.
TEST_F(Lv2State, RestoreBeforeActivateAndSaveBeforeRun) {
    Lv2Plugin p(desc, 48000, host.list);
    for (uint32_t port = 2; port <= 4; ++port) desc->connect_port(p.handle, port, nullptr);
    ASSERT_EQ(restore_bytes(p, state_stream("lv2", 3, 0, 6)), LV2_STATE_SUCCESS);
    EXPECT_EQ(saved_values(p), (Triple{3, 0, 6}));  // saved before any run
    desc->activate(p.handle);
    EXPECT_EQ(saved_values(p), (Triple{3, 0, 6}));
    p.run(1);
    EXPECT_EQ(saved_values(p), (Triple{3, 0, 6}));
    EXPECT_EQ(p.cutoff_mod, 3 * 16 + 8);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) return 2;
    g_module_path = argv[1];
    return RUN_ALL_TESTS();
}
