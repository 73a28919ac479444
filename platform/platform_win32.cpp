// Windows side of the platform layer.
#include <windows.h>

#include <cstdlib>

#include "platform.h"

namespace vexo {

void platform_yield() { SwitchToThread(); }

const char* platform_name() { return "windows"; }

char platform_path_separator() { return '\\'; }

char* platform_module_path(const void* address) {
    HMODULE module = nullptr;
    const DWORD by_address_unchanged_refcount =
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (!GetModuleHandleExA(by_address_unchanged_refcount, static_cast<LPCSTR>(address), &module)) return nullptr;
    // Start at the classic path limit and double while the name is cut short,
    // so that paths longer than 260 characters come back whole.
    DWORD size = 260;
    char* buf = static_cast<char*>(malloc(size));
    while (buf) {
        DWORD n = GetModuleFileNameA(module, buf, size);
        if (n == 0) break;
        if (n < size) return buf;
        size *= 2;
        char* bigger = static_cast<char*>(realloc(buf, size));
        if (!bigger) break;
        buf = bigger;
    }
    free(buf);
    return nullptr;
}

void* platform_module_load(const char* path) {
    // Paths are UTF-8 throughout the project; the wide API also lifts the
    // 260-character limit for paths given with the \\?\ prefix.
    int len = MultiByteToWideChar(CP_UTF8, 0, path, -1, nullptr, 0);
    if (len <= 0) return nullptr;
    wchar_t stack_buf[512];
    wchar_t* wide = len <= 512 ? stack_buf : static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, len * sizeof(wchar_t)));
    if (!wide) return nullptr;
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, len);
    for (int i = 0; i < len; ++i)
        if (wide[i] == L'/') wide[i] = L'\\';
    HMODULE m = LoadLibraryExW(wide, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (wide != stack_buf) HeapFree(GetProcessHeap(), 0, wide);
    return reinterpret_cast<void*>(m);
}

void* platform_module_symbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void platform_module_free(void* module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

}  // namespace vexo
