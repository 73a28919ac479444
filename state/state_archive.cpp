// The state document: building and reading the nested tar streams, and the
// checks a loaded state must pass before any value reaches the plug-in.
#include "state_archive.h"

#include <cerrno>
#include <cstring>

#include "engine/params.h"
#include "platform/platform.h"
#include "state_alloc.h"
#include "tar.h"

namespace vexo {

namespace {

constexpr char kDspMember[] = "dsp.tar";
constexpr char kInfoMember[] = "info.map";
constexpr char kParametersMember[] = "parameters.map";
constexpr char kVersionMember[] = "version";
constexpr char kVersionText[] = "1.0";
constexpr char kPluginId[] = "brume-vexo";

// The plug-in's version, 1.2.5.1, as stored in "info.map".
constexpr int32_t kVersionMajor = 1;
constexpr int32_t kVersionMinor = 2;
constexpr int32_t kVersionRevision = 5;
constexpr int32_t kVersionBuild = 1;

template <size_t N>
constexpr size_t text_len(const char (&)[N]) {
    return N - 1;
}

bool is_name(const void* name, size_t len, const char* text, size_t text_len) {
    return len == text_len && std::memcmp(name, text, len) == 0;
}

void free_maps(StateArchive* a) {
    state_map_free(a->info);
    state_map_free(a->parameters);
    state_map_free(a->inner_extras);
    state_map_free(a->outer_extras);
    *a = StateArchive{nullptr, nullptr, nullptr, nullptr};
}

int add_entry(const void* key, size_t key_len, const void* value, size_t value_len, void* user) {
    return state_map_add(static_cast<StateMap*>(user), key, key_len, value, value_len);
}

// "1.0", optionally followed by white space only.
bool version_accepted(const void* value, size_t len) {
    const unsigned char* v = static_cast<const unsigned char*>(value);
    if (len < 3 || std::memcmp(v, kVersionText, 3) != 0) return false;
    for (size_t i = 3; i < len; ++i)
        if (!(v[i] == ' ' || (v[i] >= '\t' && v[i] <= '\r'))) return false;
    return true;
}

struct ExtrasCopy {
    StateMap* into;
    const char* const* skip;  // names that are not extras, null-terminated
};

int copy_unless_known(const void* key, size_t key_len, const void* value, size_t value_len, void* user) {
    ExtrasCopy* c = static_cast<ExtrasCopy*>(user);
    for (const char* const* s = c->skip; *s; ++s)
        if (is_name(key, key_len, *s, std::strlen(*s))) return 0;
    return state_map_add(c->into, key, key_len, value, value_len);
}

// A map file member of `members`, decoded; null with errno set.
StateMap* decode_map_member(const StateMap* members, const char* name) {
    size_t len = 0;
    const void* bytes = state_map_get(members, name, std::strlen(name), &len);
    if (!bytes) {
        errno = EINVAL;
        return nullptr;
    }
    return state_map_decode(bytes, len);
}

}  // namespace

int state_archive_init(StateArchive* archive) {
    *archive = StateArchive{state_map_new(), state_map_new(), state_map_new(), state_map_new()};
    if (archive->info && archive->parameters && archive->inner_extras && archive->outer_extras) return 0;
    free_maps(archive);
    return -1;
}

void state_archive_free(StateArchive* archive) { free_maps(archive); }

void* state_archive_encode(const StateArchive* archive, size_t* out_len) {
    size_t info_len = 0, params_len = 0, inner_len = 0, outer_len = 0;
    void* info = nullptr;
    void* params = nullptr;
    void* inner = nullptr;
    void* outer = nullptr;
    StateMap* inner_members = state_map_new();
    StateMap* outer_members = nullptr;
    bool ok = inner_members &&
              state_map_add(inner_members, kVersionMember, text_len(kVersionMember), kVersionText,
                            text_len(kVersionText)) == 0;
    // An empty info or parameters map encodes to nothing, which fails the
    // whole document.
    ok = ok && (info = state_map_encode(archive->info, &info_len)) != nullptr;
    ok = ok && (params = state_map_encode(archive->parameters, &params_len)) != nullptr;
    ok = ok && state_map_add(inner_members, kInfoMember, text_len(kInfoMember), info, info_len) == 0;
    ok = ok && state_map_add(inner_members, kParametersMember, text_len(kParametersMember), params, params_len) == 0;
    ok = ok && state_map_for_each(archive->inner_extras, add_entry, inner_members) == 0;
    ok = ok && (inner = tar_encode(inner_members, &inner_len)) != nullptr;
    ok = ok && (outer_members = state_map_new()) != nullptr;
    ok = ok && state_map_add(outer_members, kDspMember, text_len(kDspMember), inner, inner_len) == 0;
    ok = ok && state_map_for_each(archive->outer_extras, add_entry, outer_members) == 0;
    ok = ok && (outer = tar_encode(outer_members, &outer_len)) != nullptr;

    state_free(info);
    state_free(params);
    state_free(inner);
    state_map_free(inner_members);
    state_map_free(outer_members);
    if (!ok) return nullptr;
    *out_len = outer_len;
    return outer;
}

int state_archive_decode(StateArchive* archive, const void* bytes, size_t len) {
    *archive = StateArchive{nullptr, nullptr, nullptr, nullptr};
    StateMap* outer = tar_decode(bytes, len);
    if (!outer) return -1;
    StateMap* inner = nullptr;
    int err = EINVAL;
    size_t dsp_len = 0, version_len = 0;
    const void* dsp = state_map_get(outer, kDspMember, text_len(kDspMember), &dsp_len);
    const void* version = nullptr;
    if (!dsp) goto fail;
    inner = tar_decode(dsp, dsp_len);
    if (!inner) {
        err = errno;
        goto fail;
    }
    version = state_map_get(inner, kVersionMember, text_len(kVersionMember), &version_len);
    if (!version || !version_accepted(version, version_len)) goto fail;
    archive->info = decode_map_member(inner, kInfoMember);
    if (!archive->info) {
        err = errno;
        goto fail;
    }
    archive->parameters = decode_map_member(inner, kParametersMember);
    if (!archive->parameters) {
        err = errno;
        goto fail;
    }
    {
        static const char* const inner_known[] = {kInfoMember, kParametersMember, kVersionMember, nullptr};
        static const char* const outer_known[] = {kDspMember, nullptr};
        archive->inner_extras = state_map_new();
        archive->outer_extras = state_map_new();
        ExtrasCopy inner_copy{archive->inner_extras, inner_known};
        ExtrasCopy outer_copy{archive->outer_extras, outer_known};
        if (!archive->inner_extras || !archive->outer_extras ||
            state_map_for_each(inner, copy_unless_known, &inner_copy) != 0 ||
            state_map_for_each(outer, copy_unless_known, &outer_copy) != 0) {
            err = ENOMEM;
            goto fail;
        }
    }
    state_map_free(inner);
    state_map_free(outer);
    return 0;
fail:
    free_maps(archive);
    state_map_free(inner);
    state_map_free(outer);
    errno = err;
    return -1;
}

void* plugin_state_encode(const char* format, size_t format_len, float sample_rate, float cutoff, float lfo_amt,
                          float lfo_speed, size_t* out_len) {
    StateArchive archive;
    if (state_archive_init(&archive) != 0) return nullptr;
    // Values are stored little-endian, which is the byte order of every
    // target this builds for (x86-64).
    const int32_t major = kVersionMajor, minor = kVersionMinor, revision = kVersionRevision, build = kVersionBuild;
    const char* platform = platform_name();
    const float values[kInputParamCount] = {cutoff, lfo_amt, lfo_speed};
    struct Item {
        const char* key;
        const void* value;
        size_t len;
    };
    const Item info[] = {
        {"id", kPluginId, text_len(kPluginId)},
        {"version_major", &major, 4},
        {"version_minor", &minor, 4},
        {"version_revision", &revision, 4},
        {"version_build", &build, 4},
        {"format", format, format_len},
        {"platform", platform, std::strlen(platform)},
        {"sample_rate", &sample_rate, 4},
    };
    bool ok = true;
    for (const Item& item : info)
        ok = ok && state_map_add(archive.info, item.key, std::strlen(item.key), item.value, item.len) == 0;
    for (uint32_t i = 0; i < kInputParamCount; ++i) {
        const char* key = kParams[i].state_key;
        ok = ok && state_map_add(archive.parameters, key, std::strlen(key), &values[i], 4) == 0;
    }
    void* stream = ok ? state_archive_encode(&archive, out_len) : nullptr;
    state_archive_free(&archive);
    return stream;
}

int plugin_state_load(const void* bytes, size_t len, const StateSink* sink) {
    StateArchive archive;
    if (state_archive_decode(&archive, bytes, len) != 0) return -1;
    float values[kInputParamCount];
    bool ok = true;
    size_t id_len = 0;
    const void* id = state_map_get(archive.info, "id", 2, &id_len);
    ok = id && is_name(id, id_len, kPluginId, text_len(kPluginId));
    for (uint32_t i = 0; ok && i < kInputParamCount; ++i) {
        const char* key = kParams[i].state_key;
        size_t value_len = 0;
        const void* value = state_map_get(archive.parameters, key, std::strlen(key), &value_len);
        ok = value && value_len == 4;
        if (ok) {
            std::memcpy(&values[i], value, 4);
            ok = values[i] == values[i];  // not a NaN; infinities pass, the sink limits them
        }
    }
    state_archive_free(&archive);
    if (!ok) return -1;
    sink->lock(sink->data);
    for (uint32_t i = 0; i < kInputParamCount; ++i) sink->store_value(sink->data, i, values[i]);
    sink->unlock(sink->data);
    return 0;
}

}  // namespace vexo
