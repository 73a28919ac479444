// LV2 state interface: the whole state is one property, the state stream
// (format "lv2") under the plug-in URI + "#state_data", typed atom:Chunk.
//
// [state thread] save and restore may run while run is busy on the audio
// thread. They hold param_lock only for a few loads and stores; encoding,
// decoding, allocation and the calls into the host all happen outside it.
#include <cstdlib>

#include <lv2/state/state.h>

#include "state/state_alloc.h"
#include "state/state_archive.h"
#include "vexo_lv2.h"

namespace vexo {

namespace {

constexpr char kFormat[] = "lv2";

// Restore's sink: the values wait in pending_values until a run takes the
// lock and applies them (see reconcile in vexo_lv2.cpp).
void sink_lock(void* data) {
    Lv2Instance* self = static_cast<Lv2Instance*>(data);
    param_lock_acquire(self->param_lock);
    self->params_synced = 0;
    self->restore_pending = 1;
}

void sink_unlock(void* data) { param_lock_release(static_cast<Lv2Instance*>(data)->param_lock); }

void sink_store(void* data, uint32_t index, float value) {
    static_cast<Lv2Instance*>(data)->pending_values[index] = round_to_step(value);
}

LV2_State_Status save(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const*) {
    Lv2Instance* self = static_cast<Lv2Instance*>(instance);
    if (!self->map) {
        log_message(self, "Host is trying to store state but didn't provide URID map\n");
        return LV2_STATE_ERR_UNKNOWN;
    }
    const float rate = engine_sample_rate(&self->engine);
    float values[kInputParamCount];
    param_lock_acquire(self->param_lock);
    self->params_synced = 0;
    // A restore that no run has applied yet holds the values the instance is
    // about to take: saving the engine's older ones would lose it.
    for (uint32_t i = 0; i < kInputParamCount; ++i)
        values[i] = self->restore_pending ? self->pending_values[i] : engine_get_parameter(&self->engine, i);
    param_lock_release(self->param_lock);

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
    const StateSink sink{self, sink_lock, sink_unlock, sink_store};
    return plugin_state_load(value, size, &sink) == 0 ? LV2_STATE_SUCCESS : LV2_STATE_ERR_UNKNOWN;
}

const LV2_State_Interface kStateInterface = {save, restore};

}  // namespace

const void* lv2_state_interface() { return &kStateInterface; }

}  // namespace vexo
