// A small VST3 host for the tests: loads the built module by path as hosts
// do, and provides the host-side objects the plug-in calls: a memory
// IBStream, IParameterChanges with IParamValueQueue, and an
// IComponentHandler. Each host object is a plain struct whose first member
// points to its function table.
#pragma once

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "vst3/vst3_abi.h"

namespace vexo_test {

using namespace vst3;

// The plug-in's parameter IDs as hosts see them.
constexpr ParamID kCutoffId = 1784049613u;
constexpr ParamID kLfoAmtId = 394330366u;
constexpr ParamID kLfoSpeedId = 793359101u;
constexpr ParamID kModId = 558397322u;

// Calls slot `fn` of the interface `iface` of table type `V`.
#define VCALL(V, iface, fn, ...) (vst3::vtbl<V>(iface)->fn((iface), ##__VA_ARGS__))

struct LoadedVst3 {
    void* handle = nullptr;
    void* factory = nullptr;
    bool (*module_exit)() = nullptr;
    explicit LoadedVst3(const char* path) {
        handle = vexo::platform_module_load(path);
        if (!handle) return;
        // Linux hosts call ModuleEntry before anything else; Windows has
        // DllMain instead.
        auto entry = reinterpret_cast<bool (*)(void*)>(vexo::platform_module_symbol(handle, "ModuleEntry"));
        module_exit = reinterpret_cast<bool (*)()>(vexo::platform_module_symbol(handle, "ModuleExit"));
        if (entry && !entry(handle)) return;
        auto get = reinterpret_cast<void* (*)()>(vexo::platform_module_symbol(handle, "GetPluginFactory"));
        if (get) factory = get();
    }
    ~LoadedVst3() {
        if (factory) VCALL(IPluginFactory3Vtbl, factory, release);
        if (module_exit) module_exit();
        vexo::platform_module_free(handle);
    }
    // A new object of class `cid` asked for as `iid`, or null.
    void* create(const Uid& cid, const Uid& iid, tresult* result = nullptr) {
        void* obj = nullptr;
        tresult r = VCALL(IPluginFactory3Vtbl, factory, createInstance, reinterpret_cast<const char*>(cid.data()),
                          reinterpret_cast<const char*>(iid.data()), &obj);
        if (result) *result = r;
        return r == kResultOk ? obj : nullptr;
    }
    Uid class_id(int index) {
        PClassInfo info{};
        VCALL(IPluginFactory3Vtbl, factory, getClassInfo, index, &info);
        Uid u;
        std::memcpy(u.data(), info.cid, 16);
        return u;
    }
};

inline void* query(void* obj, const Uid& iid) {
    void* out = nullptr;
    return VCALL(FUnknownVtbl, obj, queryInterface, iid.data(), &out) == kResultOk ? out : nullptr;
}

inline uint32_t release(void* obj) { return VCALL(FUnknownVtbl, obj, release); }

// ---------------------------------------------------------------------------
// IBStream over a byte vector, with switches that make it misbehave.

struct MemoryStream {
    const IBStreamVtbl* vtbl = &kVtbl;
    std::vector<unsigned char> bytes;
    int64_t pos = 0;
    bool fail_seek = false;
    int32_t max_write = -1;  // a write delivers at most this many bytes; -1: all

    static MemoryStream* self(void* s) { return static_cast<MemoryStream*>(s); }
    static tresult qi(void* s, const uint8_t* iid, void** obj) {
        if (same_uid(iid, kIBStreamIid) || same_uid(iid, kFUnknownIid)) {
            *obj = s;
            return kResultOk;
        }
        *obj = nullptr;
        return kNoInterface;
    }
    static uint32_t ref(void*) { return 1; }
    static tresult read(void* s, void* buf, int32_t n, int32_t* got) {
        MemoryStream* m = self(s);
        int64_t left = static_cast<int64_t>(m->bytes.size()) - m->pos;
        int32_t k = n < left ? n : static_cast<int32_t>(left < 0 ? 0 : left);
        if (k > 0) std::memcpy(buf, m->bytes.data() + m->pos, static_cast<size_t>(k));
        m->pos += k;
        if (got) *got = k;
        return kResultOk;
    }
    static tresult write(void* s, void* buf, int32_t n, int32_t* did) {
        MemoryStream* m = self(s);
        int32_t k = m->max_write >= 0 && n > m->max_write ? m->max_write : n;
        if (m->bytes.size() < static_cast<size_t>(m->pos + k)) m->bytes.resize(static_cast<size_t>(m->pos + k));
        std::memcpy(m->bytes.data() + m->pos, buf, static_cast<size_t>(k));
        m->pos += k;
        if (did) *did = k;
        return kResultOk;
    }
    static tresult seek(void* s, int64_t pos, int32_t mode, int64_t* result) {
        MemoryStream* m = self(s);
        if (m->fail_seek) return kResultFalse;
        int64_t base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? m->pos : static_cast<int64_t>(m->bytes.size());
        m->pos = base + pos;
        if (result) *result = m->pos;
        return kResultOk;
    }
    static tresult tell(void* s, int64_t* pos) {
        if (pos) *pos = self(s)->pos;
        return kResultOk;
    }
    static constexpr IBStreamVtbl kVtbl = {qi, ref, ref, read, write, seek, tell};
};

// ---------------------------------------------------------------------------
// Parameter changes: input queues made by the test, output queues filled by
// the plug-in.

struct Queue {
    const IParamValueQueueVtbl* vtbl = &kVtbl;
    ParamID id = 0;
    struct Point {
        int32_t offset;
        double value;
    };
    std::vector<Point> points;

    static Queue* self(void* q) { return static_cast<Queue*>(q); }
    static tresult qi(void* q, const uint8_t*, void** obj) {
        *obj = q;
        return kResultOk;
    }
    static uint32_t ref(void*) { return 1; }
    static ParamID get_id(void* q) { return self(q)->id; }
    static int32_t count(void* q) { return static_cast<int32_t>(self(q)->points.size()); }
    static tresult get_point(void* q, int32_t i, int32_t* offset, double* value) {
        Queue* s = self(q);
        if (i < 0 || i >= static_cast<int32_t>(s->points.size())) return kInvalidArgument;
        *offset = s->points[i].offset;
        *value = s->points[i].value;
        return kResultOk;
    }
    static tresult add_point(void* q, int32_t offset, double value, int32_t* index) {
        Queue* s = self(q);
        s->points.push_back({offset, value});
        if (index) *index = static_cast<int32_t>(s->points.size()) - 1;
        return kResultOk;
    }
    static constexpr IParamValueQueueVtbl kVtbl = {qi, ref, ref, get_id, count, get_point, add_point};
};

struct Changes {
    const IParameterChangesVtbl* vtbl = &kVtbl;
    std::vector<Queue> queues;  // reserved up front: the plug-in holds pointers into it during a block

    Changes() { queues.reserve(16); }
    static Changes* self(void* c) { return static_cast<Changes*>(c); }
    static tresult qi(void* c, const uint8_t*, void** obj) {
        *obj = c;
        return kResultOk;
    }
    static uint32_t ref(void*) { return 1; }
    static int32_t count(void* c) { return static_cast<int32_t>(self(c)->queues.size()); }
    static void* data(void* c, int32_t i) {
        Changes* s = self(c);
        return i >= 0 && i < static_cast<int32_t>(s->queues.size()) ? &s->queues[i] : nullptr;
    }
    static void* add(void* c, const ParamID* id, int32_t* index) {
        Changes* s = self(c);
        for (size_t i = 0; i < s->queues.size(); ++i)
            if (s->queues[i].id == *id) {
                if (index) *index = static_cast<int32_t>(i);
                return &s->queues[i];
            }
        if (s->queues.size() == s->queues.capacity()) return nullptr;
        s->queues.push_back(Queue{});
        s->queues.back().id = *id;
        if (index) *index = static_cast<int32_t>(s->queues.size()) - 1;
        return &s->queues.back();
    }
    static constexpr IParameterChangesVtbl kVtbl = {qi, ref, ref, count, data, add};

    // Adds a point to the queue of `id`, making the queue when needed.
    void point(ParamID id, int32_t offset, double value) {
        Queue* q = static_cast<Queue*>(add(this, &id, nullptr));
        if (q) q->points.push_back({offset, value});
    }
};

// ---------------------------------------------------------------------------
// A component handler that counts its references and records edits.

struct Handler {
    const IComponentHandlerVtbl* vtbl = &kVtbl;
    std::atomic<int> refs{1};
    static Handler* self(void* h) { return static_cast<Handler*>(h); }
    static tresult qi(void* h, const uint8_t*, void** obj) {
        *obj = h;
        return kResultOk;
    }
    static uint32_t add_ref(void* h) { return static_cast<uint32_t>(++self(h)->refs); }
    static uint32_t release(void* h) { return static_cast<uint32_t>(--self(h)->refs); }
    static tresult edit(void*, ParamID) { return kResultOk; }
    static tresult perform(void*, ParamID, double) { return kResultOk; }
    static tresult restart(void*, int32_t) { return kResultOk; }
    static constexpr IComponentHandlerVtbl kVtbl = {qi, add_ref, release, edit, perform, edit, restart};
};

// ---------------------------------------------------------------------------
// An initialised component with both buses active, at 48 kHz.
struct Proc {
    void* comp = nullptr;
    void* proc = nullptr;
    std::vector<float> in, out;
    Changes in_changes, out_changes;
    bool with_out_changes = true;

    Proc(LoadedVst3& m, const Uid& cid, double rate = 48000, bool activate_buses = true, size_t max_block = 4096)
        : in(max_block), out(max_block) {
        comp = m.create(cid, kIComponentIid);
        if (!comp) return;
        proc = query(comp, kIAudioProcessorIid);
        VCALL(IComponentVtbl, comp, initialize, nullptr);
        ProcessSetup setup{0, kSample32, 4096, rate};
        VCALL(IAudioProcessorVtbl, proc, setupProcessing, &setup);
        if (activate_buses) {
            VCALL(IComponentVtbl, comp, activateBus, kAudio, kInput, 0, 1);
            VCALL(IComponentVtbl, comp, activateBus, kAudio, kOutput, 0, 1);
        }
        VCALL(IComponentVtbl, comp, setActive, 1);
    }
    ~Proc() {
        if (!comp) return;
        VCALL(IComponentVtbl, comp, setActive, 0);
        VCALL(IComponentVtbl, comp, terminate);
        release(proc);
        release(comp);
    }
    // One block of n samples from `in` to `out`.
    tresult run(int32_t n) {
        float* ins[1] = {in.data()};
        float* outs[1] = {out.data()};
        AudioBusBuffers ib{1, 0, {ins}}, ob{1, 0, {outs}};
        ProcessData d{};
        d.numSamples = n;
        d.numInputs = 1;
        d.numOutputs = 1;
        d.inputs = &ib;
        d.outputs = &ob;
        d.inputParameterChanges = &in_changes;
        d.outputParameterChanges = with_out_changes ? &out_changes : nullptr;
        out_changes.queues.clear();
        tresult r = VCALL(IAudioProcessorVtbl, proc, process, &d);
        in_changes.queues.clear();
        return r;
    }
    // The output parameter points reported by the last block.
    std::vector<Queue::Point> reported() const {
        for (const Queue& q : out_changes.queues)
            if (q.id == kModId) return q.points;
        return {};
    }
    std::vector<unsigned char> state() {
        MemoryStream s;
        if (VCALL(IComponentVtbl, comp, getState, &s) != kResultOk) return {};
        return s.bytes;
    }
    tresult load(const std::vector<unsigned char>& bytes) {
        MemoryStream s;
        s.bytes = bytes;
        s.pos = static_cast<int64_t>(bytes.size());  // setState must rewind by itself
        return VCALL(IComponentVtbl, comp, setState, &s);
    }
};

}  // namespace vexo_test
