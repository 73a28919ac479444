// Default heap functions of the state archive: the C library's.
#include "state_alloc.h"

#include <cstdlib>

namespace vexo {

void* state_malloc(size_t size) { return std::malloc(size); }
void* state_realloc(void* block, size_t size) { return std::realloc(block, size); }
void state_free(void* block) { std::free(block); }

}  // namespace vexo
