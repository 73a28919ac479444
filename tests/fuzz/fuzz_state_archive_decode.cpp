// libFuzzer target: state_archive_decode on any bytes. An accepted archive
// must encode again (unless its member names cannot be written) and the
// result must be accepted too.
#include <cstdint>
#include <cstdlib>

#include "state/state_alloc.h"
#include "state/state_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vexo::StateArchive archive;
    if (vexo::state_archive_decode(&archive, data, size) != 0) return 0;
    size_t len = 0;
    void* again = vexo::state_archive_encode(&archive, &len);
    if (again) {
        vexo::StateArchive back;
        if (vexo::state_archive_decode(&back, again, len) != 0) std::abort();
        vexo::state_archive_free(&back);
        vexo::state_free(again);
    }
    vexo::state_archive_free(&archive);
    return 0;
}
