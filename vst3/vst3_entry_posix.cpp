// Linux module entry: hosts call ModuleEntry after loading and ModuleExit
// before unloading, possibly in nested pairs, which are counted.
#include "vst3_plugin.h"

VST3_EXPORT bool ModuleEntry(void*) { return vexo::vst3_module_load(); }

VST3_EXPORT bool ModuleExit() {
    vexo::vst3_module_unload();
    return true;
}
