// LV2 descriptor and instance: the glue between the LV2 plug-in API and the
// filter engine.
//
// Threads: instantiate, connect_port, activate and cleanup come from the
// host's main thread and never overlap anything else on the instance. run
// comes from the audio thread and may overlap the state interface, which
// takes param_lock; run only ever tries that lock once and never waits,
// allocates, logs or makes a system call.
#include "vexo_lv2.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include <lv2/atom/atom.h>
#include <lv2/state/state.h>

#include "platform/platform.h"

namespace vexo {

const char* query_features(const LV2_Feature* const* features, ...) {
    va_list args;
    va_start(args, features);
    const char* missing = nullptr;
    for (const char* uri = va_arg(args, const char*); uri; uri = va_arg(args, const char*)) {
        void** data = va_arg(args, void**);
        int required = va_arg(args, int);
        *data = nullptr;
        if (features) {
            for (const LV2_Feature* const* f = features; *f; ++f) {
                if (std::strcmp((*f)->URI, uri) == 0) {
                    *data = (*f)->data;
                    break;
                }
            }
        }
        if (required && !*data) {
            missing = uri;
            break;
        }
    }
    va_end(args);
    return missing;
}

void log_message(Lv2Instance* self, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (self->log) {
        self->log->vprintf(self->log->handle, self->log_error_type, format, args);
    } else {
        std::vfprintf(stderr, format, args);
    }
    va_end(args);
}

float round_to_step(float value) { return param_snap(value, 0.0f, 15.0f); }

// ---------------------------------------------------------------------------
// Descriptor entry points.

// [main-thread]
static LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features) {
    Lv2Instance* self = static_cast<Lv2Instance*>(std::calloc(1, sizeof(Lv2Instance)));
    if (!self) return nullptr;
    new (&self->params.lock) ParamLock(0);

    const char* missing = query_features(features, LV2_LOG__log, reinterpret_cast<void**>(&self->log), 0,
                                         LV2_URID__map, reinterpret_cast<void**>(&self->map), 1,
                                         static_cast<const char*>(nullptr));
    if (self->map) {
        LV2_URID_Map* m = self->map;
        self->log_error_type = m->map(m->handle, LV2_LOG__Error);
        self->log_note_type = m->map(m->handle, LV2_LOG__Note);
        self->log_trace_type = m->map(m->handle, LV2_LOG__Trace);
        self->log_warning_type = m->map(m->handle, LV2_LOG__Warning);
    }
    if (missing) log_message(self, "Missing feature <%s>\n", missing);
    if (self->map) {
        self->atom_chunk_type = self->map->map(self->map->handle, LV2_ATOM__Chunk);
        self->state_key = self->map->map(self->map->handle, kStateKeyUri);
    }
    engine_init(&self->engine);
    engine_set_sample_rate(&self->engine, static_cast<float>(rate));
    param_exchange_init(&self->params, &self->engine);
    for (float*& p : self->ports) p = nullptr;
    return self;
}

// [main-thread] or [audio-thread]: stores a pointer, nothing else.
static void connect_port(LV2_Handle instance, uint32_t port, void* data) {
    Lv2Instance* self = static_cast<Lv2Instance*>(instance);
    if (port < kPortCount) self->ports[port] = static_cast<float*>(data);
}

// A port value taken without rounding at activate, kept inside the
// parameter's range so that an out-of-range or NaN port value cannot push a
// register outside the LFO's tables. In-range values, whole or not, pass
// unchanged.
static float activate_value(float v) {
    if (!(v >= 0.0f)) return 0.0f;  // negative or NaN
    if (v > 15.0f) return 15.0f;
    return v;
}

// [main-thread] Re-reads the control ports and restarts the engine. Not
// concurrent with run or the state interface, so the flags are read without
// the lock.
//
// A parameter whose port is not connected keeps its current value: the
// default after instantiate, or what a restored state set, which a second
// activation (hosts re-activate on transport or bypass changes) must not
// throw away. For the same reason a state restored before activation (a
// common host order) stays pending, and the first run applies it as it would
// after any restore.
static void activate(LV2_Handle instance) {
    Lv2Instance* self = static_cast<Lv2Instance*>(instance);
    ParamExchange& x = self->params;
    const bool keep_restore = x.restore_pending != 0;
    for (uint32_t i = 0; i < kInputParamCount; ++i) {
        const float* port = self->ports[kFirstControlPort + i];
        float v = port ? activate_value(*port) : engine_get_parameter(&self->engine, i);
        engine_set_parameter(&self->engine, i, v);
        x.host_values[i] = v;
        if (!keep_restore) x.pending_values[i] = v;
    }
    param_lock_release(x.lock);
    x.params_synced = keep_restore ? 0 : 1;
    x.restore_pending = keep_restore ? 1 : 0;
    engine_reset(&self->engine);
}

// [audio-thread] No allocation, no waiting, no logging, no system call.
static void run(LV2_Handle instance, uint32_t n) {
    Lv2Instance* self = static_cast<Lv2Instance*>(instance);
    const uint32_t saved_fp = platform_denormals_off();

    const bool locked = param_exchange_begin(&self->params, &self->engine);
    for (uint32_t i = 0; i < kInputParamCount; ++i) {
        const float* port = self->ports[kFirstControlPort + i];
        if (port) param_exchange_host_value(&self->params, &self->engine, locked, i, round_to_step(*port));
    }
    param_exchange_end(&self->params, locked);

    if (n > 0) engine_process(&self->engine, self->ports[kPortAudioIn], self->ports[kPortAudioOut], n);
    if (self->ports[kPortCutoffMod])
        *self->ports[kPortCutoffMod] = engine_get_parameter(&self->engine, kParamCutoffMod);

    platform_denormals_restore(saved_fp);
}

// [main-thread]
static void cleanup(LV2_Handle instance) {
    Lv2Instance* self = static_cast<Lv2Instance*>(instance);
    self->params.lock.~ParamLock();
    std::free(self);
}

// [any thread] The one extension offered: the state interface.
static const void* extension_data(const char* uri) {
    if (uri && std::strcmp(uri, LV2_STATE__interface) == 0) return lv2_state_interface();
    return nullptr;
}

static const LV2_Descriptor kDescriptor = {
    /*.URI =*/VEXO_LV2_URI,
    /*.instantiate =*/instantiate,
    /*.connect_port =*/connect_port,
    /*.activate =*/activate,
    /*.run =*/run,
    /*.deactivate =*/nullptr,
    /*.cleanup =*/cleanup,
    /*.extension_data =*/extension_data,
};

}  // namespace vexo

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index == 0 ? &vexo::kDescriptor : nullptr;
}
