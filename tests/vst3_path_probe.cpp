// A test module built from the VST3 module's own entry and path code, which
// also exports the two paths the module computed when it was loaded.
#include "vst3/vst3_plugin.h"

VST3_EXPORT const char* vexo_probe_module_dir() { return vexo::vst3_module_dir(); }
VST3_EXPORT const char* vexo_probe_resources_dir() { return vexo::vst3_resources_dir(); }
