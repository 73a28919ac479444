// Module entry and the plug-in factory: the module paths computed at load,
// GetPluginFactory, and the static factory that lists and creates the two
// classes. Nothing here knows the filter.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "state/state_alloc.h"
#include "vst3_object.h"
#include "vst3_plugin.h"

using namespace vst3;

namespace vexo {

// ---------------------------------------------------------------------------
// Shared helpers

void copy_text(char16* dst, size_t capacity, const char* text) {
    size_t i = 0;
    for (; text[i] && i + 1 < capacity; ++i) dst[i] = static_cast<char16>(static_cast<unsigned char>(text[i]));
    for (; i < capacity; ++i) dst[i] = 0;
}

void copy_text(char* dst, size_t capacity, const char* text) {
    size_t i = 0;
    for (; text[i] && i + 1 < capacity; ++i) dst[i] = text[i];
    for (; i < capacity; ++i) dst[i] = 0;
}

int read_whole_stream(void* stream, unsigned char** out, size_t* out_len) {
    const IBStreamVtbl* s = vtbl<IBStreamVtbl>(stream);
    int64_t size = 0, ignored = 0;
    if (s->seek(stream, 0, kIBSeekEnd, &ignored) != kResultOk || s->tell(stream, &size) != kResultOk ||
        s->seek(stream, 0, kIBSeekSet, &ignored) != kResultOk)
        return -1;
    *out = nullptr;
    *out_len = 0;
    if (size <= 0) return 0;
    if (static_cast<uint64_t>(size) > SIZE_MAX) return -1;
    unsigned char* buf = static_cast<unsigned char*>(state_malloc(static_cast<size_t>(size)));
    if (!buf) return -1;
    size_t have = 0;
    while (have < static_cast<size_t>(size)) {
        size_t want = static_cast<size_t>(size) - have;
        int32_t chunk = want > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(want);
        int32_t got = 0;
        s->read(stream, buf + have, chunk, &got);
        if (got != chunk) {
            state_free(buf);
            return -1;
        }
        have += static_cast<size_t>(got);
    }
    *out = buf;
    *out_len = have;
    return 0;
}

tresult connection_connect(void*, void* other) { return other ? kResultOk : kInvalidArgument; }
tresult connection_disconnect(void*, void*) { return kResultOk; }
tresult connection_notify(void*, void*) { return kResultOk; }

// ---------------------------------------------------------------------------
// Module paths

namespace {

char* g_module_dir = nullptr;
char* g_resources_dir = nullptr;
std::atomic<int32_t> g_load_count{0};

// Everything before the last separator, as a new string; null when there is
// no separator or memory runs out.
char* parent_of(const char* path, char sep) {
    const char* cut = std::strrchr(path, sep);
    if (!cut) return nullptr;
    size_t len = static_cast<size_t>(cut - path);
    char* out = static_cast<char*>(std::malloc(len + 1));
    if (!out) return nullptr;
    std::memcpy(out, path, len);
    out[len] = 0;
    return out;
}

}  // namespace

const char* vst3_module_dir() { return g_module_dir; }
const char* vst3_resources_dir() { return g_resources_dir; }

bool vst3_module_load() {
    if (g_load_count.load() > 0) {
        ++g_load_count;
        return true;
    }
    const char sep = platform_path_separator();
    char* path = platform_module_path(reinterpret_cast<const void*>(&vst3_module_load));
    char* dir = path ? parent_of(path, sep) : nullptr;
    char* parent = dir ? parent_of(dir, sep) : nullptr;
    char* resources = nullptr;
    if (parent) {
        // "<parent>\Resources" on Windows, "<parent>/Resources" on Linux.
        size_t len = std::strlen(parent);
        resources = static_cast<char*>(std::malloc(len + 12));
        if (resources) {
            std::memcpy(resources, parent, len);
            resources[len] = sep;
            std::memcpy(resources + len + 1, "Resources", 10);
        }
    }
    std::free(path);
    std::free(parent);
    if (!resources) {
        std::free(dir);
        return false;
    }
    g_module_dir = dir;
    g_resources_dir = resources;
    g_load_count = 1;
    return true;
}

void vst3_module_unload() {
    if (g_load_count.load() <= 0) return;
    if (--g_load_count == 0) {
        std::free(g_module_dir);
        std::free(g_resources_dir);
        g_module_dir = nullptr;
        g_resources_dir = nullptr;
    }
}

// ---------------------------------------------------------------------------
// The factory: static, stateless, never freed.

namespace {

constexpr char kVersion[] = "1.2.5.1";
constexpr char kSdkVersion2[] = "VST 3.8.0 | Gantry";
constexpr char kSdkVersionW[] = "VST 3.8.0";

struct ClassRow {
    const Uid* cid;
    const char* category;
    const char* name;
    uint32_t flags;
    const char* subcategories;
};

const ClassRow kClasses[2] = {
    {&kComponentClassId, "Audio Module Class", "Vexo", kDistributable, "Fx|Filter"},
    {&kControllerClassId, "Component Controller Class", "Vexo Controller", 0, ""},
};

// [any thread]
tresult factory_query(void* self, const uint8_t* iid, void** obj) {
    if (!obj) return kInvalidArgument;
    if (iid && (same_uid(iid, kFUnknownIid) || same_uid(iid, kIPluginFactoryIid) ||
                same_uid(iid, kIPluginFactory2Iid) || same_uid(iid, kIPluginFactory3Iid))) {
        *obj = self;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

uint32_t factory_add_ref(void*) { return 1; }
uint32_t factory_release(void*) { return 1; }

tresult get_factory_info(void*, PFactoryInfo* info) {
    if (!info) return kInvalidArgument;
    copy_text(info->vendor, sizeof info->vendor, "Brumeworks");
    copy_text(info->url, sizeof info->url, "https://brume-audio.org");
    copy_text(info->email, sizeof info->email, "support@brume-audio.org");
    info->flags = kUnicode;
    return kResultOk;
}

int32_t count_classes(void*) { return 2; }

template <typename Info>
void fill_basic(const ClassRow& row, Info* info) {
    std::memcpy(info->cid, row.cid->data(), 16);
    info->cardinality = kManyInstances;
    copy_text(info->category, sizeof info->category, row.category);
}

tresult get_class_info(void*, int32_t index, PClassInfo* info) {
    if (index < 0 || index > 1 || !info) return kInvalidArgument;
    fill_basic(kClasses[index], info);
    copy_text(info->name, sizeof info->name, kClasses[index].name);
    return kResultOk;
}

tresult get_class_info2(void*, int32_t index, PClassInfo2* info) {
    if (index < 0 || index > 1 || !info) return kInvalidArgument;
    const ClassRow& row = kClasses[index];
    fill_basic(row, info);
    copy_text(info->name, sizeof info->name, row.name);
    info->classFlags = row.flags;
    copy_text(info->subCategories, sizeof info->subCategories, row.subcategories);
    copy_text(info->vendor, sizeof info->vendor, "");
    copy_text(info->version, sizeof info->version, kVersion);
    copy_text(info->sdkVersion, sizeof info->sdkVersion, kSdkVersion2);
    return kResultOk;
}

tresult get_class_info_unicode(void*, int32_t index, PClassInfoW* info) {
    if (index < 0 || index > 1 || !info) return kInvalidArgument;
    const ClassRow& row = kClasses[index];
    fill_basic(row, info);
    copy_text(info->name, 64, row.name);
    info->classFlags = row.flags;
    copy_text(info->subCategories, sizeof info->subCategories, row.subcategories);
    copy_text(info->vendor, 64, "");
    copy_text(info->version, 64, kVersion);
    copy_text(info->sdkVersion, 64, kSdkVersionW);
    return kResultOk;
}

// The component answers FUnknown, IPluginBase and IComponent here, the
// controller FUnknown, IPluginBase and IEditController; hosts ask for the
// other interfaces with queryInterface afterwards.
tresult create_instance(void*, const char* cid, const char* iid, void** obj) {
    if (!cid || !iid || !obj) return kInvalidArgument;
    const bool base = same_uid(iid, kFUnknownIid) || same_uid(iid, kIPluginBaseIid);
    if (same_uid(cid, kComponentClassId)) {
        if (!base && !same_uid(iid, kIComponentIid)) return kNoInterface;
        void* c = vst3_component_new();
        if (!c) return kOutOfMemory;
        *obj = c;
        return kResultOk;
    }
    if (same_uid(cid, kControllerClassId)) {
        if (!base && !same_uid(iid, kIEditControllerIid)) return kNoInterface;
        void* c = vst3_controller_new();
        if (!c) return kOutOfMemory;
        *obj = c;
        return kResultOk;
    }
    *obj = nullptr;
    return kNoInterface;
}

tresult set_host_context(void*, void*) { return kNotImplemented; }

const IPluginFactory3Vtbl kFactoryVtbl = {
    .queryInterface = factory_query,
    .addRef = factory_add_ref,
    .release = factory_release,
    .getFactoryInfo = get_factory_info,
    .countClasses = count_classes,
    .getClassInfo = get_class_info,
    .createInstance = create_instance,
    .getClassInfo2 = get_class_info2,
    .getClassInfoUnicode = get_class_info_unicode,
    .setHostContext = set_host_context,
};

struct Factory {
    const IPluginFactory3Vtbl* vtbl;
};
Factory g_factory = {&kFactoryVtbl};

}  // namespace

}  // namespace vexo

// [any thread] The same static factory on every call; nothing to release.
VST3_EXPORT void* GetPluginFactory() { return &vexo::g_factory; }
