// The installed bundle as a real LV2 host (lilv) sees it: its description
// agrees with the parameter table, and lilv can instantiate and run it.
// Usage: lv2_bundle_tests <bundle folder>
#include <gtest/gtest.h>

#include <lilv/lilv.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/params.h"
#include "lv2_host.h"
#include "test_signal.h"

namespace {

std::string g_bundle;
constexpr const char* kUri = "https://brume-audio.org/plugins/vexo";

class Bundle : public ::testing::Test {
protected:
    void SetUp() override {
        world = lilv_world_new();
        std::string dir = g_bundle + "/";
        LilvNode* bundle_uri = lilv_new_file_uri(world, nullptr, dir.c_str());
        lilv_world_load_bundle(world, bundle_uri);
        lilv_node_free(bundle_uri);
        LilvNode* uri = lilv_new_uri(world, kUri);
        plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri);
        lilv_node_free(uri);
        ASSERT_NE(plugin, nullptr);
    }
    void TearDown() override {
        for (LilvNode* n : nodes) lilv_node_free(n);
        lilv_world_free(world);
    }
    LilvNode* node(const char* uri) {
        nodes.push_back(lilv_new_uri(world, uri));
        return nodes.back();
    }
    LilvWorld* world = nullptr;
    const LilvPlugin* plugin = nullptr;
    std::vector<LilvNode*> nodes;
};

TEST_F(Bundle, DescribesThePlugin) {
    LilvNode* name = lilv_plugin_get_name(plugin);
    EXPECT_STREQ(lilv_node_as_string(name), "Vexo");
    lilv_node_free(name);
    // The class as declared (lilv only resolves classes from loaded vocabularies).
    EXPECT_TRUE(lilv_world_ask(world, lilv_plugin_get_uri(plugin),
                               node("http://www.w3.org/1999/02/22-rdf-syntax-ns#type"),
                               node(LV2_CORE__BandpassPlugin)));
    char* lib = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_library_uri(plugin)), nullptr);
    std::string lib_path = lib ? lib : "";
    lilv_free(lib);
    EXPECT_EQ(lib_path.substr(lib_path.find_last_of('/') + 1), "brume-vexo.so");

    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    EXPECT_EQ(lilv_nodes_size(required), 1u);
    EXPECT_TRUE(lilv_nodes_contains(required, node(LV2_URID__map)));
    lilv_nodes_free(required);
    LilvNodes* optional = lilv_plugin_get_optional_features(plugin);
    EXPECT_TRUE(lilv_nodes_contains(optional, node(LV2_LOG__log)));
    lilv_nodes_free(optional);
}

TEST_F(Bundle, PortsAgreeWithTheParameterTable) {
    ASSERT_EQ(lilv_plugin_get_num_ports(plugin), 6u);
    const char* symbols[6] = {"in", "out", "cutoff", "lfo_amt", "lfo_speed", "cutoff_mod"};
    LilvNode* audio = node(LV2_CORE__AudioPort);
    LilvNode* control = node(LV2_CORE__ControlPort);
    LilvNode* input = node(LV2_CORE__InputPort);
    LilvNode* output = node(LV2_CORE__OutputPort);
    LilvNode* integer = node(LV2_CORE__integer);
    for (uint32_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        ASSERT_NE(port, nullptr);
        EXPECT_STREQ(lilv_node_as_string(lilv_port_get_symbol(plugin, port)), symbols[i]);
        bool is_output = i == 1 || i == 5;
        EXPECT_EQ(lilv_port_is_a(plugin, port, output), is_output);
        EXPECT_EQ(lilv_port_is_a(plugin, port, input), !is_output);
        if (i < 2) {
            EXPECT_TRUE(lilv_port_is_a(plugin, port, audio));
            continue;
        }
        EXPECT_TRUE(lilv_port_is_a(plugin, port, control));
        const vexo::ParamInfo& row = vexo::kParams[i - 2];
        EXPECT_EQ(row.is_output, is_output);
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(plugin, port, &def, &min, &max);
        ASSERT_TRUE(def && min && max);
        EXPECT_EQ(lilv_node_as_float(def), row.default_value);
        EXPECT_EQ(lilv_node_as_float(min), row.minimum);
        EXPECT_EQ(lilv_node_as_float(max), row.maximum);
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
        EXPECT_EQ(lilv_port_has_property(plugin, port, integer), (row.flags & vexo::kParamFlagInteger) != 0);
    }
}

TEST_F(Bundle, LilvInstantiatesAndRuns) {
    vexo_test::HostFeatures host;
    LilvInstance* inst = lilv_plugin_instantiate(plugin, 48000, host.list);
    ASSERT_NE(inst, nullptr);
    std::vector<float> in(960), out(960);
    for (size_t i = 0; i < in.size(); ++i) in[i] = (i % 100 < 50) ? 0.3f : -0.3f;
    float controls[3] = {4, 0, 7}, mod = -1;
    lilv_instance_connect_port(inst, 0, in.data());
    lilv_instance_connect_port(inst, 1, out.data());
    for (uint32_t i = 0; i < 3; ++i) lilv_instance_connect_port(inst, 2 + i, &controls[i]);
    lilv_instance_connect_port(inst, 5, &mod);
    lilv_instance_activate(inst);
    lilv_instance_run(inst, 960);
    EXPECT_EQ(mod, 4 * 16 + 8);
    float energy = 0;
    for (float v : out) energy += v * v;
    EXPECT_GT(energy, 0.01f);
    lilv_instance_deactivate(inst);
    lilv_instance_free(inst);
}

// lilv's own state API: save an instance's state to a folder, load it from
// there and restore it into a fresh instance. Restored through the host's
// port values and the plug-in's state property together, and through the
// property alone (ports not restored, not connected), the fresh instance must
// sound the same as the original.
struct PortValues {
    float values[3];
    static const void* get(const char* symbol, void* user, uint32_t* size, uint32_t* type) {
        auto* self = static_cast<PortValues*>(user);
        *size = sizeof(float);
        *type = self->float_type;
        for (int i = 0; i < 3; ++i)
            if (std::string(symbol) == kSymbols[i]) return &self->values[i];
        return nullptr;
    }
    static void set(const char* symbol, void* user, const void* value, uint32_t size, uint32_t) {
        auto* self = static_cast<PortValues*>(user);
        for (int i = 0; i < 3; ++i)
            if (std::string(symbol) == kSymbols[i] && size == sizeof(float)) std::memcpy(&self->values[i], value, 4);
    }
    static constexpr const char* kSymbols[3] = {"cutoff", "lfo_amt", "lfo_speed"};
    uint32_t float_type = 0;
};

struct LilvRun {
    LilvInstance* inst;
    std::vector<float> in = std::vector<float>(4096), out = std::vector<float>(4096);
    float mod = 0;
    LilvRun(const LilvPlugin* plugin, vexo_test::HostFeatures& host, float* controls) {
        inst = lilv_plugin_instantiate(plugin, 48000, host.list);
        if (!inst) return;
        lilv_instance_connect_port(inst, 0, in.data());
        lilv_instance_connect_port(inst, 1, out.data());
        for (uint32_t i = 0; i < 3; ++i) lilv_instance_connect_port(inst, 2 + i, controls ? &controls[i] : nullptr);
        lilv_instance_connect_port(inst, 5, &mod);
    }
    ~LilvRun() {
        if (inst) lilv_instance_free(inst);
    }
    std::vector<float> render() {
        vexo_test::Lcg rng(11);
        for (float& s : in) s = rng.noise();
        lilv_instance_activate(inst);
        lilv_instance_run(inst, 4096);
        return out;
    }
};

TEST_F(Bundle, LilvStateSaveAndRestore) {
    vexo_test::HostFeatures host;
    LV2_URID_Unmap unmap{&host.urids, [](LV2_URID_Unmap_Handle h, LV2_URID id) {
                             return static_cast<vexo_test::UridTable*>(h)->unmap(id);
                         }};
    PortValues original{{3, 9, 12}, host.map.map(host.map.handle, LV2_ATOM__Float)};
    LilvRun a(plugin, host, original.values);
    ASSERT_NE(a.inst, nullptr);
    const std::vector<float> expected = a.render();

    char dir_template[] = "/tmp/vexo-lilv-state-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    const std::string dir = dir_template;
    LilvState* saved = lilv_state_new_from_instance(plugin, a.inst, &host.map, nullptr, nullptr, nullptr,
                                                    dir.c_str(), PortValues::get, &original, 0, host.list);
    ASSERT_NE(saved, nullptr);
    ASSERT_EQ(lilv_state_save(world, &host.map, &unmap, saved, nullptr, dir.c_str(), "state.ttl"), 0);
    lilv_state_free(saved);

    const std::string path = dir + "/state.ttl";
    LilvState* loaded = lilv_state_new_from_file(world, &host.map, nullptr, path.c_str());
    ASSERT_NE(loaded, nullptr);

    // Ports and property.
    PortValues restored{{15, 0, 7}, original.float_type};
    LilvRun b(plugin, host, restored.values);
    lilv_state_restore(loaded, b.inst, PortValues::set, &restored, 0, host.list);
    EXPECT_EQ(restored.values[0], 3.0f);
    EXPECT_TRUE(vexo_test::same_bits(b.render(), expected));

    // The property alone.
    LilvRun c(plugin, host, nullptr);
    lilv_state_restore(loaded, c.inst, nullptr, nullptr, 0, host.list);
    EXPECT_TRUE(vexo_test::same_bits(c.render(), expected));

    lilv_state_free(loaded);
    std::remove(path.c_str());
    std::remove((dir + "/manifest.ttl").c_str());
    std::remove(dir.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) return 2;
    g_bundle = argv[1];
    return RUN_ALL_TESTS();
}
