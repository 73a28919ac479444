// The one-byte parameter lock shared by the audio thread and the state
// operations of one plug-in instance. The audio thread only ever tries it
// once (param_lock_try) and carries on without it; the state operations spin
// on it, giving up their time slice between attempts, and hold it only for a
// few loads and stores.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform.h"

namespace vexo {

using ParamLock = std::atomic<uint8_t>;

// [audio-thread] One attempt: true when the lock is now held by the caller.
inline bool param_lock_try(ParamLock& lock) { return lock.exchange(1) == 0; }

// [state thread] Spins until the lock is held. Never on the audio thread.
inline void param_lock_acquire(ParamLock& lock) {
    while (lock.exchange(1) != 0) platform_yield();
}

inline void param_lock_release(ParamLock& lock) { lock.exchange(0); }

}  // namespace vexo
