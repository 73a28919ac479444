// The straightforward per-sample form of the engine's block loop: every
// sample runs through the whole chain, with the filter coefficients
// recomputed for every sample and the soft clipper in scalar code. It is the
// baseline the benchmark measures engine_process against, and the reference
// the tests require engine_process to equal bit for bit.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace vexo {

void reference_process(Engine* e, const float* input, float* output, uint32_t n);

}  // namespace vexo
