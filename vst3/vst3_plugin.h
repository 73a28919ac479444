// What the parts of the VST3 module share: the two class IDs, the parameter
// IDs, text helpers, the whole-stream reader, the module paths and the
// constructors of the two plug-in objects.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/params.h"
#include "vst3_abi.h"

namespace vexo {

// Chosen once; hosts store them in projects, so they never change.
constexpr vst3::Uid kComponentClassId = vst3::make_uid(0x4C9D2E61, 0x0B7A4F35, 0x9E21C8D3, 0x57A0B6F4);
constexpr vst3::Uid kControllerClassId = vst3::make_uid(0x8F3B61C2, 0xD4E94A07, 0xB15C2F98, 0x6E03D7A1);

// sdbm hash of a parameter's state key with bit 31 cleared.
constexpr uint32_t sdbm_param_id(const char* key) {
    uint32_t h = 0;
    for (const char* c = key; *c; ++c) h = static_cast<uint8_t>(*c) + (h << 6) + (h << 16) - h;
    return h & 0x7FFFFFFFu;
}

// VST3 parameter ID per row of the parameter table.
constexpr vst3::ParamID kParamIds[kParamCount] = {sdbm_param_id("cutoff"), sdbm_param_id("lfo_amt"),
                                                  sdbm_param_id("lfo_speed"), 558397322u};
static_assert(kParamIds[0] == 1784049613u && kParamIds[1] == 394330366u && kParamIds[2] == 793359101u);

// The row of a parameter ID, or -1.
inline int param_row(vst3::ParamID id) {
    for (int row = 0; row < static_cast<int>(kParamCount); ++row)
        if (kParamIds[row] == id) return row;
    return -1;
}

inline double param_plain(int row, double normalized) {
    const ParamInfo& p = kParams[row];
    return p.minimum + (p.maximum - p.minimum) * normalized;
}

inline double param_normalized(int row, double plain) {
    const ParamInfo& p = kParams[row];
    return (plain - p.minimum) / (p.maximum - p.minimum);
}

// Copies ASCII text into a fixed UTF-16 or 8-bit field, zero-filled, always
// terminated.
void copy_text(vst3::char16* dst, size_t capacity, const char* text);
void copy_text(char* dst, size_t capacity, const char* text);

// Reads an IBStream from its beginning to its end into one heap block
// (release with state_free). 0 on success (null and 0 for an empty stream),
// -1 when it cannot be sought, told or read in full, or memory runs out.
int read_whole_stream(void* stream, unsigned char** out, size_t* out_len);

// Module directory and resources directory ("<parent of module dir>/Resources"),
// valid while the module is loaded; null before that.
const char* vst3_module_dir();
const char* vst3_resources_dir();
// Computes both from the running module's path; false when that fails.
// Counted: only the first of nested calls computes, only the last
// vst3_module_unload frees.
bool vst3_module_load();
void vst3_module_unload();

// New objects with one reference each, or null when memory runs out. The
// returned pointer is the object's primary interface (IComponent,
// IEditController).
void* vst3_component_new();
void* vst3_controller_new();

}  // namespace vexo
