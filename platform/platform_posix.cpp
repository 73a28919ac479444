// Linux side of the platform layer.
#include <dlfcn.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>

#include "platform.h"

namespace vexo {

void platform_yield() { sched_yield(); }

const char* platform_name() { return "linux"; }

char platform_path_separator() { return '/'; }

char* platform_module_path(const void* address) {
    Dl_info info;
    if (!dladdr(address, &info) || !info.dli_fname) return nullptr;
    // dladdr reports the name the module was loaded by, which may be
    // relative; the real path is what a host would show.
    char* real = realpath(info.dli_fname, nullptr);
    return real ? real : strdup(info.dli_fname);
}

void* platform_module_load(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* platform_module_symbol(void* module, const char* name) { return dlsym(module, name); }

void platform_module_free(void* module) {
    if (module) dlclose(module);
}

}  // namespace vexo
