// Moves a saved LV2 state between builds: "save" writes the state property
// of an instance set to the given values, "load" restores a file into a fresh
// instance and prints the values the instance then holds.
//   state_tool save <module> <file> <cutoff> <lfo_amt> <lfo_speed>
//   state_tool load <module> <file>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "lv2_host.h"
#include "state/state_archive.h"

using namespace vexo_test;

namespace {

constexpr const char* kStateKey = "https://brume-audio.org/plugins/vexo#state_data";

bool save_to(const LV2_Descriptor* desc, Lv2Plugin& p, HostFeatures& host, PropertyStore& store) {
    auto* iface = state_interface(desc);
    return iface && iface->save(p.handle, PropertyStore::store, &store, 0, host.list) == LV2_STATE_SUCCESS &&
           !store.props.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s save|load <module> <file> [cutoff lfo_amt lfo_speed]\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    LoadedModule module(argv[2]);
    const LV2_Descriptor* desc = module.descriptor();
    if (!desc) {
        std::fprintf(stderr, "cannot load %s\n", argv[2]);
        return 1;
    }
    HostFeatures host;
    Lv2Plugin p(desc, 48000, host.list, 64);
    PropertyStore store;

    if (mode == "save" && argc == 7) {
        for (int i = 0; i < 3; ++i) p.controls[i] = static_cast<float>(std::atof(argv[4 + i]));
        desc->activate(p.handle);
        p.run(1);
        if (!save_to(desc, p, host, store)) return 1;
        FILE* f = std::fopen(argv[3], "wb");
        const auto& v = store.props.back().value;
        if (!f || std::fwrite(v.data(), 1, v.size(), f) != v.size()) return 1;
        std::fclose(f);
        std::printf("saved %zu bytes\n", v.size());
        return 0;
    }
    if (mode == "load") {
        FILE* f = std::fopen(argv[3], "rb");
        if (!f) return 1;
        std::vector<unsigned char> bytes;
        unsigned char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
        for (uint32_t port = 2; port <= 4; ++port) desc->connect_port(p.handle, port, nullptr);
        desc->activate(p.handle);
        PropertyStore in;
        in.props.push_back({host.map.map(host.map.handle, kStateKey), host.map.map(host.map.handle, LV2_ATOM__Chunk), 3,
                            bytes});
        auto* iface = state_interface(desc);
        if (iface->restore(p.handle, PropertyStore::retrieve, &in, 0, host.list) != LV2_STATE_SUCCESS) {
            std::printf("restore refused\n");
            return 1;
        }
        p.run(1);
        if (!save_to(desc, p, host, store)) return 1;
        // The values the instance now holds, read from its own saved state.
        const auto& v = store.props.back().value;
        float values[3] = {-1, -1, -1};
        vexo::StateSink sink{values, [](void*) {}, [](void*) {},
                             [](void* d, uint32_t i, float x) { static_cast<float*>(d)[i] = x; }};
        if (vexo::plugin_state_load(v.data(), v.size(), &sink) != 0) return 1;
        std::printf("values %g %g %g\n", values[0], values[1], values[2]);
        return 0;
    }
    std::fprintf(stderr, "bad arguments\n");
    return 2;
}
