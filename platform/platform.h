// The one place where Windows and Linux differ: giving up a time slice,
// loading a module as a host does, and the platform's name for saved state.
// The floating-point control helpers are the same x86-64 code on both, and
// live here because every API layer needs them around its audio callback.
#pragma once

#include <cstdint>

namespace vexo {

// Give the rest of this thread's time slice to another thread
// (SwitchToThread on Windows, sched_yield on Linux). Never call it on the
// audio thread.
void platform_yield();

// "windows" or "linux".
const char* platform_name();

// Switches on flush-to-zero (MXCSR bit 0x8000) and denormals-are-zero (bit
// 0x40) and returns the previous control word. Audio-thread safe.
uint32_t platform_denormals_off();

// Puts the FTZ and DAZ bits back to their state in `saved`, leaving every
// other control bit as it is now. Audio-thread safe.
void platform_denormals_restore(uint32_t saved);

// The separator between folders in paths: '\\' on Windows, '/' on Linux.
char platform_path_separator();

// The full path of the module (DLL or shared object) that contains
// `address`, as a heap string (release with free), or null.
char* platform_module_path(const void* address);

// Loads a shared library by path as a plug-in host would, resolves a symbol,
// unloads it. Null on failure. Used by hosts and tests, never by the audio
// path.
void* platform_module_load(const char* path);
void* platform_module_symbol(void* module, const char* name);
void platform_module_free(void* module);

}  // namespace vexo
