// libFuzzer target: tar_decode on any bytes. Every member it returns must lie
// inside the input; a decoded set must encode again when its names allow.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "state/state_alloc.h"
#include "state/tar.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexo::StateMap* members = vexo::tar_decode(data, size);
    if (!members) return 0;
    struct Check {
        const uint8_t* begin;
        const uint8_t* end;
        bool encodable = true;
    } check{data, data + size};
    vexo::state_map_for_each(
        members,
        [](const void* k, size_t kl, const void* v, size_t vl, void* u) {
            Check* c = static_cast<Check*>(u);
            const uint8_t* key = static_cast<const uint8_t*>(k);
            const uint8_t* value = static_cast<const uint8_t*>(v);
            if (key < c->begin || key + kl > c->end || value < c->begin || value + vl > c->end) std::abort();
            if (kl >= 100 || kl == 0) c->encodable = false;
            return 0;
        },
        &check);
    if (check.encodable) {
        size_t len = 0;
        void* again = vexo::tar_encode(members, &len);
        if (!again) std::abort();
        vexo::StateMap* back = vexo::tar_decode(again, len);
        if (!back) std::abort();
        vexo::state_map_free(back);
        vexo::state_free(again);
    }
    vexo::state_map_free(members);
    return 0;
}
