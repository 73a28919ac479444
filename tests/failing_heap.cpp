// The state archive's heap functions for tests (replacing state_alloc.cpp):
// forwards to the C library unless told to fail an allocation.
#include "failing_heap.h"

#include <cstdlib>

#include "state/state_alloc.h"

namespace {
size_t g_fail_at = 0;
size_t g_count = 0;
long g_live = 0;

bool should_fail() {
    ++g_count;
    return g_fail_at != 0 && g_count == g_fail_at;
}
}  // namespace

namespace vexo_test {
void FailingHeap::fail_at(size_t k) {
    g_fail_at = k;
    g_count = 0;
}
size_t FailingHeap::allocations() { return g_count; }
long FailingHeap::live() { return g_live; }
void FailingHeap::reset() {
    g_fail_at = 0;
    g_count = 0;
}
}  // namespace vexo_test

namespace vexo {

void* state_malloc(size_t size) {
    if (should_fail()) return nullptr;
    void* p = std::malloc(size);
    if (p) ++g_live;
    return p;
}

void* state_realloc(void* block, size_t size) {
    if (should_fail()) return nullptr;
    void* p = std::realloc(block, size);
    if (p && !block) ++g_live;
    return p;
}

void state_free(void* block) {
    if (block) --g_live;
    std::free(block);
}

}  // namespace vexo
