// The parameter values that the audio thread and the state operations
// (save/restore, getState/setState) of one plug-in instance share, and the
// rules by which they meet. Both plug-in formats use it.
//
// The audio side tries the one-byte lock once per parameter application and
// carries on without it; the state side spins on it (yielding) and holds it
// only for a few loads and stores. A restore leaves its values pending; the
// next application that gets the lock applies them whole. Host values that
// arrive while the lock is busy wait in host_values and are reconciled by a
// later application.
#pragma once

#include <cstdint>

#include "engine/engine.h"
#include "platform/param_lock.h"
#include "state_archive.h"

namespace vexo {

struct ParamExchange {
    ParamLock lock;                             // 0 free, 1 held; only ever exchanged
    uint8_t params_synced;                      // under the lock
    uint8_t restore_pending;                    // under the lock
    float pending_values[kInputParamCount];     // under the lock: restored, or mirror of what was applied
    float host_values[kInputParamCount];        // audio side only: last value the host gave, snapped
};

// Not concurrent with anything. Takes the engine's current values as both
// the host's and the pending ones.
void param_exchange_init(ParamExchange* x, const Engine* engine);

// [audio-thread] Starts a parameter application: one attempt at the lock;
// with it, reconciles after a save or restore. Returns whether the lock is
// held; pass that to param_exchange_host_value and param_exchange_end.
bool param_exchange_begin(ParamExchange* x, Engine* engine);
// [audio-thread] A snapped value from the host for parameter `index`.
// Remembered always, applied to the engine only when the lock is held.
void param_exchange_host_value(ParamExchange* x, Engine* engine, bool locked, uint32_t index, float value);
// [audio-thread] Ends the application.
void param_exchange_end(ParamExchange* x, bool locked);

// [state thread] The three values a save must record: the engine's, or a
// restore that no application has taken yet (saving the engine's older
// values would lose it).
void param_exchange_snapshot(ParamExchange* x, const Engine* engine, float out[kInputParamCount]);

// [state thread] The sink through which plugin_state_load hands restored
// values over; `snap` limits each value to its parameter's steps.
struct ParamExchangeSink {
    ParamExchange* exchange;
    float (*snap)(uint32_t index, float value);
};
StateSink param_exchange_sink(ParamExchangeSink* target);

}  // namespace vexo
