// Interposed allocation and locking functions that count calls on a guarded
// thread (see audio_thread_guard.h).
#include "audio_thread_guard.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
void* __libc_memalign(size_t, size_t);
}

namespace vexo_test {

static thread_local bool t_active = false;
static thread_local AudioThreadCounts t_counts;

void audio_guard_begin() {
    t_counts = AudioThreadCounts{};
    t_active = true;
}

AudioThreadCounts audio_guard_end() {
    t_active = false;
    return t_counts;
}

}  // namespace vexo_test

using vexo_test::t_active;
using vexo_test::t_counts;

extern "C" {

void* malloc(size_t n) {
    if (t_active) ++t_counts.allocations;
    return __libc_malloc(n);
}

void* calloc(size_t a, size_t b) {
    if (t_active) ++t_counts.allocations;
    return __libc_calloc(a, b);
}

void* realloc(void* p, size_t n) {
    if (t_active) ++t_counts.allocations;
    return __libc_realloc(p, n);
}

void free(void* p) {
    if (t_active && p) ++t_counts.frees;
    __libc_free(p);
}

int posix_memalign(void** out, size_t align, size_t n) {
    if (t_active) ++t_counts.allocations;
    void* p = __libc_memalign(align, n);
    if (!p) return 12;  // ENOMEM
    *out = p;
    return 0;
}

void* aligned_alloc(size_t align, size_t n) {
    if (t_active) ++t_counts.allocations;
    return __libc_memalign(align, n);
}

int pthread_mutex_lock(pthread_mutex_t* m) {
    using Fn = int (*)(pthread_mutex_t*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (t_active) ++t_counts.locks;
    return real(m);
}

int pthread_mutex_trylock(pthread_mutex_t* m) {
    using Fn = int (*)(pthread_mutex_t*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_trylock"));
    if (t_active) ++t_counts.locks;
    return real(m);
}

int sched_yield() {
    using Fn = int (*)();
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "sched_yield"));
    if (t_active) ++t_counts.yields;
    return real();
}

}  // extern "C"
