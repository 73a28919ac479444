// A minimal LV2 host for the tests: loads the built module by path as a
// host does, and provides urid:map and log:log features that record what the
// plug-in asks for and says.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include "platform/platform.h"

namespace vexo_test {

struct UridTable {
    std::vector<std::string> uris;
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri) {
        auto* self = static_cast<UridTable*>(handle);
        for (size_t i = 0; i < self->uris.size(); ++i)
            if (self->uris[i] == uri) return static_cast<LV2_URID>(i + 1);
        self->uris.push_back(uri);
        return static_cast<LV2_URID>(self->uris.size());
    }
    const char* unmap(LV2_URID id) const { return id >= 1 && id <= uris.size() ? uris[id - 1].c_str() : nullptr; }
};

struct LogRecorder {
    struct Entry {
        LV2_URID type;
        std::string text;
    };
    std::vector<Entry> entries;
    static int vprintf_fn(LV2_Log_Handle handle, LV2_URID type, const char* fmt, va_list ap) {
        char buf[1024];
        int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
        static_cast<LogRecorder*>(handle)->entries.push_back({type, buf});
        return n;
    }
    static int printf_fn(LV2_Log_Handle handle, LV2_URID type, const char* fmt, ...) {
        va_list ap;
        va_start(ap, fmt);
        int n = vprintf_fn(handle, type, fmt, ap);
        va_end(ap);
        return n;
    }
};

// Features of a well-behaved host: urid:map and log:log.
struct HostFeatures {
    UridTable urids;
    LogRecorder log;
    LV2_URID_Map map{&urids, &UridTable::map};
    LV2_Log_Log log_feature{&log, &LogRecorder::printf_fn, &LogRecorder::vprintf_fn};
    LV2_Feature map_feature{LV2_URID__map, &map};
    LV2_Feature log_feature_entry{LV2_LOG__log, &log_feature};
    const LV2_Feature* list[3] = {&map_feature, &log_feature_entry, nullptr};
};

// The module, loaded through the platform loader; lv2_descriptor resolved.
struct LoadedModule {
    void* handle = nullptr;
    const LV2_Descriptor* (*descriptor_fn)(uint32_t) = nullptr;
    explicit LoadedModule(const char* path) {
        handle = vexo::platform_module_load(path);
        if (handle)
            descriptor_fn = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(
                vexo::platform_module_symbol(handle, "lv2_descriptor"));
    }
    ~LoadedModule() { vexo::platform_module_free(handle); }
    const LV2_Descriptor* descriptor() const { return descriptor_fn ? descriptor_fn(0) : nullptr; }
};

// One instance with its six ports connected to buffers owned here.
struct Lv2Plugin {
    const LV2_Descriptor* desc;
    LV2_Handle handle = nullptr;
    std::vector<float> in, out;
    float controls[3] = {15, 0, 7};
    float cutoff_mod = -1;

    Lv2Plugin(const LV2_Descriptor* d, double rate, const LV2_Feature* const* features, uint32_t max_block = 8192)
        : desc(d), in(max_block, 0.0f), out(max_block, 0.0f) {
        handle = desc->instantiate(desc, rate, "", features);
        if (!handle) return;
        desc->connect_port(handle, 0, in.data());
        desc->connect_port(handle, 1, out.data());
        for (uint32_t i = 0; i < 3; ++i) desc->connect_port(handle, 2 + i, &controls[i]);
        desc->connect_port(handle, 5, &cutoff_mod);
    }
    ~Lv2Plugin() {
        if (handle) desc->cleanup(handle);
    }
    void run(uint32_t n) { desc->run(handle, n); }
    void set_controls(float cutoff, float lfo_amt, float lfo_speed) {
        controls[0] = cutoff;
        controls[1] = lfo_amt;
        controls[2] = lfo_speed;
    }
};

}  // namespace vexo_test

#include <lv2/atom/atom.h>
#include <lv2/state/state.h>

namespace vexo_test {

// A host's property store for the state interface: one property per key.
struct PropertyStore {
    struct Property {
        uint32_t key, type, flags;
        std::vector<unsigned char> value;
    };
    std::vector<Property> props;
    LV2_State_Status store_result = LV2_STATE_SUCCESS;  // what store reports

    static LV2_State_Status store(LV2_State_Handle h, uint32_t key, const void* value, size_t size, uint32_t type,
                                  uint32_t flags) {
        auto* self = static_cast<PropertyStore*>(h);
        const unsigned char* p = static_cast<const unsigned char*>(value);
        self->props.push_back({key, type, flags, std::vector<unsigned char>(p, p + size)});
        return self->store_result;
    }
    static const void* retrieve(LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags) {
        auto* self = static_cast<PropertyStore*>(h);
        for (auto it = self->props.rbegin(); it != self->props.rend(); ++it) {
            if (it->key != key) continue;
            *size = it->value.size();
            *type = it->type;
            *flags = it->flags;
            return it->value.data();
        }
        return nullptr;
    }
};

inline const LV2_State_Interface* state_interface(const LV2_Descriptor* d) {
    return static_cast<const LV2_State_Interface*>(d->extension_data(LV2_STATE__interface));
}

}  // namespace vexo_test
