// The heap functions of the state archive. Everything the archive allocates
// goes through these three, and every block it hands out is released with
// state_free (which is the C library's free). The default definitions in
// state_alloc.cpp forward to malloc/realloc/free; the tests link their own
// to inject allocation failures.
#pragma once

#include <cstddef>

namespace vexo {

void* state_malloc(size_t size);
void* state_realloc(void* block, size_t size);
void state_free(void* block);

}  // namespace vexo
