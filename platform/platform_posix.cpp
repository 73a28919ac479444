// Linux side of the platform layer.
#include <dlfcn.h>
#include <sched.h>

#include "platform.h"

namespace vexo {

void platform_yield() { sched_yield(); }

const char* platform_name() { return "linux"; }

void* platform_module_load(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* platform_module_symbol(void* module, const char* name) { return dlsym(module, name); }

void platform_module_free(void* module) {
    if (module) dlclose(module);
}

}  // namespace vexo
