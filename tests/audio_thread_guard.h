// Counts heap allocations, lock attempts and yields made by this thread while
// a guard is active. The test program that includes audio_thread_guard.cpp
// replaces malloc, calloc, realloc, free, posix_memalign, aligned_alloc,
// pthread_mutex_lock/trylock and sched_yield for the whole process (and so
// for a plug-in module it loads), forwarding every call to the C library.
// Linux only, and not with sanitizers, which replace the same functions.
#pragma once

#include <cstdint>

namespace vexo_test {

struct AudioThreadCounts {
    uint64_t allocations = 0;  // malloc, calloc, realloc, aligned allocations
    uint64_t frees = 0;
    uint64_t locks = 0;   // pthread mutex lock and trylock
    uint64_t yields = 0;  // sched_yield

    AudioThreadCounts& operator+=(const AudioThreadCounts& o) {
        allocations += o.allocations;
        frees += o.frees;
        locks += o.locks;
        yields += o.yields;
        return *this;
    }
};

// Starts counting on the calling thread.
void audio_guard_begin();
// Stops counting and returns what happened since audio_guard_begin.
AudioThreadCounts audio_guard_end();

}  // namespace vexo_test
