// Windows module entry: the module paths are computed at the first process
// attach; a failure refuses the load.
#include <windows.h>

#include "vst3_plugin.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            return vexo::vst3_module_load() ? TRUE : FALSE;
        case DLL_PROCESS_DETACH:
            vexo::vst3_module_unload();
            return TRUE;
        default:
            return TRUE;
    }
}
