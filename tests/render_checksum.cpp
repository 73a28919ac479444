// Renders a fixed test signal through the LV2 module, loaded by path, with
// parameter changes and mixed block sizes, and prints a checksum of the
// output bits. The Linux and Windows builds must print the same line.
// Usage: render_checksum <module> [raw output file]
#include <cstdio>
#include <vector>

#include "lv2_host.h"
#include "test_signal.h"

using namespace vexo_test;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <module> [raw float output]\n", argv[0]);
        return 2;
    }
    LoadedModule module(argv[1]);
    if (!module.descriptor()) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 1;
    }
    HostFeatures host;
    const uint32_t total = 48000 * 4;
    const std::vector<float> signal = test_signal(total, 2024);
    std::vector<float> rendered(total);
    std::vector<float> mods;

    Lv2Plugin p(module.descriptor(), 48000, host.list);
    p.set_controls(9, 12, 5);
    module.descriptor()->activate(p.handle);
    Lcg rng(77);
    for (uint32_t pos = 0; pos < total;) {
        uint32_t n = rng.below(6) == 0 ? 1 : 1 + rng.below(1500);
        if (n > total - pos) n = total - pos;
        if (rng.below(20) == 0) p.controls[rng.below(3)] = static_cast<float>(rng.below(16));
        std::copy(signal.begin() + pos, signal.begin() + pos + n, p.in.begin());
        p.run(n);
        std::copy(p.out.begin(), p.out.begin() + n, rendered.begin() + pos);
        mods.push_back(p.cutoff_mod);
        pos += n;
    }
    uint64_t h = fnv1a(rendered.data(), rendered.size());
    h = fnv1a(mods.data(), mods.size(), h);
    std::printf("checksum %016llx over %u samples\n", static_cast<unsigned long long>(h), total);
    if (argc > 2) {
        FILE* f = std::fopen(argv[2], "wb");
        if (!f || std::fwrite(rendered.data(), sizeof(float), total, f) != total) return 1;
        std::fclose(f);
    }
    return 0;
}
