// libFuzzer target: state_map_decode on any bytes. A decoded map encodes to
// a file of the same length (the same records, sorted) that decodes again.
#include <cstdint>
#include <cstdlib>

#include "state/state_alloc.h"
#include "state/state_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexo::StateMap* map = vexo::state_map_decode(data, size);
    if (!map) return 0;
    size_t len = 0;
    void* again = vexo::state_map_encode(map, &len);
    if (size > 0 && (!again || len != size)) std::abort();
    if (again) {
        vexo::StateMap* back = vexo::state_map_decode(again, len);
        if (!back) std::abort();
        vexo::state_map_free(back);
    }
    vexo::state_free(again);
    vexo::state_map_free(map);
    return 0;
}
