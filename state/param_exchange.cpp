// Parameter exchange between the audio thread and the state operations.
#include "param_exchange.h"

namespace vexo {

void param_exchange_init(ParamExchange* x, const Engine* engine) {
    for (uint32_t i = 0; i < kInputParamCount; ++i) {
        x->pending_values[i] = engine_get_parameter(engine, i);
        x->host_values[i] = x->pending_values[i];
    }
    param_lock_release(x->lock);
    x->params_synced = 1;
    x->restore_pending = 0;
}

bool param_exchange_begin(ParamExchange* x, Engine* engine) {
    const bool locked = param_lock_try(x->lock);
    if (!locked) return false;
    if (!x->params_synced) {
        for (uint32_t i = 0; i < kInputParamCount; ++i) {
            if (x->restore_pending) {
                // The restored values win over whatever the host sent before.
                engine_set_parameter(engine, i, x->pending_values[i]);
                x->host_values[i] = x->pending_values[i];
            } else if (x->host_values[i] != x->pending_values[i]) {
                // A host change that arrived while the lock was busy.
                x->pending_values[i] = x->host_values[i];
                engine_set_parameter(engine, i, x->host_values[i]);
            }
        }
    }
    x->params_synced = 1;
    x->restore_pending = 0;
    return true;
}

void param_exchange_host_value(ParamExchange* x, Engine* engine, bool locked, uint32_t index, float value) {
    if (value == x->host_values[index]) return;
    x->host_values[index] = value;
    if (locked) {
        x->pending_values[index] = value;
        engine_set_parameter(engine, index, value);
    }
}

void param_exchange_end(ParamExchange* x, bool locked) {
    if (locked) param_lock_release(x->lock);
}

void param_exchange_snapshot(ParamExchange* x, const Engine* engine, float out[kInputParamCount]) {
    param_lock_acquire(x->lock);
    x->params_synced = 0;
    for (uint32_t i = 0; i < kInputParamCount; ++i)
        out[i] = x->restore_pending ? x->pending_values[i] : engine_get_parameter(engine, i);
    param_lock_release(x->lock);
}

namespace {

void sink_lock(void* data) {
    ParamExchange* x = static_cast<ParamExchangeSink*>(data)->exchange;
    param_lock_acquire(x->lock);
    x->params_synced = 0;
    x->restore_pending = 1;
}

void sink_unlock(void* data) { param_lock_release(static_cast<ParamExchangeSink*>(data)->exchange->lock); }

void sink_store(void* data, uint32_t index, float value) {
    ParamExchangeSink* s = static_cast<ParamExchangeSink*>(data);
    s->exchange->pending_values[index] = s->snap(index, value);
}

}  // namespace

StateSink param_exchange_sink(ParamExchangeSink* target) {
    return StateSink{target, sink_lock, sink_unlock, sink_store};
}

}  // namespace vexo
