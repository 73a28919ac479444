// Test heap for the state archive: counts allocations, tracks how many
// blocks are live, and can make the k-th allocation from now fail.
#pragma once

#include <cstddef>

namespace vexo_test {

struct FailingHeap {
    static void fail_at(size_t k);  // 1 = the next allocation fails; 0 = never fail
    static size_t allocations();    // allocations attempted since the last reset
    static long live();             // blocks allocated and not yet freed
    static void reset();            // counters to 0, failures off (live is kept)
};

}  // namespace vexo_test
