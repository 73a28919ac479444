// LV2 state interface: the whole state is one property, the state stream
// (format "lv2") under the plug-in URI + "#state_data", typed atom:Chunk.
//
// [state thread] save and restore may run while run is busy on the audio
// thread. They hold param_lock only for a few loads and stores; encoding,
// decoding, allocation and the calls into the host all happen outside it.

#include <lv2/state/state.h>

#include "state/state_alloc.h"
#include "state/state_archive.h"
#include "vexo_lv2.h"

namespace vexo {

namespace {

constexpr char kFormat[] = "lv2";

float snap_step(uint32_t, float value) { return round_to_step(value); }

LV2_State_Status save(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const*) {
    Lv2Instance* self = static_cast<Lv2Instance*>(instance);
    if (!self->map) {
        log_message(self, "Host is trying to store state but didn't provide URID map\n");
        return LV2_STATE_ERR_UNKNOWN;
    }
    const float rate = engine_sample_rate(&self->engine);
    float values[kInputParamCount];
    param_exchange_snapshot(&self->params, &self->engine, values);

    size_t len = 0;
    void* stream = plugin_state_encode(kFormat, sizeof kFormat - 1, rate, values[0], values[1], values[2], &len);
    if (!stream) return LV2_STATE_ERR_UNKNOWN;
    LV2_State_Status st = store(handle, self->state_key, stream, len, self->atom_chunk_type,
                                LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
    state_free(stream);
    return st == LV2_STATE_SUCCESS ? LV2_STATE_SUCCESS : LV2_STATE_ERR_UNKNOWN;
}

LV2_State_Status restore(LV2_Handle instance, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t,
                         const LV2_Feature* const*) {
    Lv2Instance* self = static_cast<Lv2Instance*>(instance);
    if (!self->map) {
        log_message(self, "Host is trying to restore state but didn't provide URID map\n");
        return LV2_STATE_ERR_UNKNOWN;
    }
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void* value = retrieve(handle, self->state_key, &size, &type, &flags);
    if (!value) {
        log_message(self, "Cannot restore state since property <%s> could not be retrieved\n", kStateKeyUri);
        return LV2_STATE_ERR_NO_PROPERTY;
    }
    ParamExchangeSink target{&self->params, snap_step};
    const StateSink sink = param_exchange_sink(&target);
    return plugin_state_load(value, size, &sink) == 0 ? LV2_STATE_SUCCESS : LV2_STATE_ERR_UNKNOWN;
}

const LV2_State_Interface kStateInterface = {save, restore};

}  // namespace

const void* lv2_state_interface() { return &kStateInterface; }

}  // namespace vexo
