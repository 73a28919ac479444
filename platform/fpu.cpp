// Flush-to-zero and denormals-are-zero around an audio block. Same code on
// both platforms (x86-64 SSE control register).
#include <xmmintrin.h>

#include "platform.h"

namespace vexo {

static constexpr uint32_t kFtzDaz = 0x8000u | 0x40u;

uint32_t platform_denormals_off() {
    uint32_t saved = _mm_getcsr();
    _mm_setcsr(saved | kFtzDaz);
    return saved;
}

void platform_denormals_restore(uint32_t saved) {
    _mm_setcsr((_mm_getcsr() & ~kFtzDaz) | (saved & kFtzDaz));
}

}  // namespace vexo
