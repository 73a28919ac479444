// libFuzzer target: plugin_state_load on any bytes. The sink sees either
// nothing or exactly lock, three values in order (none a NaN), unlock.
#include <cstdint>
#include <cstdlib>

#include "state/state_archive.h"

namespace {
struct Calls {
    int step = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Calls calls;
    vexo::StateSink sink{&calls,
                         [](void* d) {
                             if (static_cast<Calls*>(d)->step++ != 0) std::abort();
                         },
                         [](void* d) {
                             if (static_cast<Calls*>(d)->step++ != 4) std::abort();
                         },
                         [](void* d, uint32_t index, float value) {
                             Calls* c = static_cast<Calls*>(d);
                             if (index != static_cast<uint32_t>(c->step - 1) || value != value) std::abort();
                             ++c->step;
                         }};
    int r = vexo::plugin_state_load(data, size, &sink);
    if ((r == 0 && calls.step != 5) || (r != 0 && calls.step != 0)) std::abort();
    return 0;
}
