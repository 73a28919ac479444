// The edit controller: IEditController, IMidiMapping and IConnectionPoint in
// one object. It describes the four parameters, converts between normalized,
// plain and text values, keeps its own plain copy of every value and follows
// the component's state when the host hands it over.
//
// [main-thread] The host calls it on its user-interface thread; nothing here
// is locked.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "state/state_alloc.h"
#include "state/state_archive.h"
#include "vst3_object.h"
#include "vst3_plugin.h"

using namespace vst3;

namespace vexo {

namespace {

struct Vst3Controller {
    const IEditControllerVtbl* controller;
    const IMidiMappingVtbl* midi;
    const IConnectionPointVtbl* connection;
    std::atomic<uint32_t> ref_count;
    void* context;
    double values[kParamCount];  // plain value per row
    void* component_handler;     // IComponentHandler*, one reference held
};

struct ParamText {
    const char* title;
    const char* short_title;
};
const ParamText kTexts[kParamCount] = {
    {"Cutoff", "Cutoff"}, {"LFO Amount", "LFO Amt"}, {"LFO Speed", "LFO Speed"}, {"Modulated Cutoff", "Mod Cutoff"}};

// ---------------------------------------------------------------------------
// FUnknown

tresult object_query(Vst3Controller* self, const uint8_t* iid, void** obj) {
    if (!obj) return kInvalidArgument;
    void* found = nullptr;
    if (iid) {
        if (same_uid(iid, kFUnknownIid) || same_uid(iid, kIPluginBaseIid) || same_uid(iid, kIEditControllerIid))
            found = &self->controller;
        else if (same_uid(iid, kIMidiMappingIid))
            found = &self->midi;
        else if (same_uid(iid, kIConnectionPointIid))
            found = &self->connection;
    }
    *obj = found;
    if (!found) return kNoInterface;
    self->ref_count.fetch_add(1);
    return kResultOk;
}

uint32_t object_release(Vst3Controller* self) {
    uint32_t left = self->ref_count.fetch_sub(1) - 1;
    if (left == 0) {
        if (self->component_handler) vtbl<IComponentHandlerVtbl>(self->component_handler)->release(self->component_handler);
        self->ref_count.~atomic();
        std::free(self);
    }
    return left;
}

// ---------------------------------------------------------------------------
// IEditController

Vst3Controller* controller(void* iface) {
    return InterfaceOf<Vst3Controller, offsetof(Vst3Controller, controller)>::object(iface);
}

void set_defaults(Vst3Controller* self) {
    for (uint32_t row = 0; row < kParamCount; ++row) self->values[row] = kParams[row].default_value;
}

tresult initialize(void* iface, void* context) {
    Vst3Controller* self = controller(iface);
    if (self->context) return kResultFalse;
    self->context = context;
    set_defaults(self);
    return kResultOk;
}

tresult terminate(void* iface) {
    controller(iface)->context = nullptr;
    return kResultOk;
}

void store_loaded(void* data, uint32_t index, float value) {
    static_cast<double*>(data)[index] = param_snap_row(value, kParams[index]);
}

// Values are taken only from a state that is accepted whole.
tresult set_component_state(void* iface, void* stream) {
    if (!stream) return kResultFalse;
    Vst3Controller* self = controller(iface);
    unsigned char* bytes = nullptr;
    size_t len = 0;
    if (read_whole_stream(stream, &bytes, &len) != 0) return kResultFalse;
    double loaded[kInputParamCount];
    const StateSink sink{loaded, [](void*) {}, [](void*) {}, store_loaded};
    int r = plugin_state_load(bytes, len, &sink);
    state_free(bytes);
    if (r != 0) return kResultFalse;
    for (uint32_t row = 0; row < kInputParamCount; ++row) self->values[row] = loaded[row];
    return kResultOk;
}

tresult set_state(void*, void*) { return kNotImplemented; }
tresult get_state(void*, void*) { return kNotImplemented; }
int32_t get_parameter_count(void*) { return static_cast<int32_t>(kParamCount); }

tresult get_parameter_info(void*, int32_t index, ParameterInfo* info) {
    if (static_cast<uint32_t>(index) >= kParamCount || !info) return kResultFalse;
    const ParamInfo& p = kParams[index];
    info->id = kParamIds[index];
    copy_text(info->title, 128, kTexts[index].title);
    copy_text(info->shortTitle, 128, kTexts[index].short_title);
    copy_text(info->units, 128, "");
    info->stepCount = static_cast<int32_t>(p.maximum - p.minimum);
    info->defaultNormalizedValue = param_normalized(index, p.default_value);
    info->unitId = 0;
    info->flags = p.is_output ? kIsReadOnly : kCanAutomate;
    return kResultOk;
}

// The plain value with exactly two decimals, truncated: 15 gives "15.00",
// 7.5 gives "7.50", 0.3 gives "0.29" (the truncation sees 0.29999...).
tresult get_param_string_by_value(void*, ParamID id, ParamValue normalized, char16* string) {
    const int row = param_row(id);
    if (row < 0 || !string) return kResultFalse;
    double v = param_plain(row, normalized);
    size_t at = 0;
    // 128 units; the integer part of any finite double fits with room left,
    // and a value this plug-in cannot produce is cut short, not overrun.
    auto put = [&](char16 c) {
        if (at < 127) string[at++] = c;
    };
    if (v < 0) {
        put(u'-');
        v = -v;
    }
    if (!(v < 1e30)) v = 0;  // infinity or NaN from a host: no digits to write
    if (v < 1) {
        put(u'0');
    } else {
        double e = 1;
        while (v >= e) e *= 10;
        e *= 0.1;
        while (e >= 1) {
            int d = static_cast<int>(v / e);
            put(static_cast<char16>(u'0' + d));
            v -= d * e;
            e *= 0.1;
        }
    }
    put(u'.');
    int d1 = static_cast<int>(v / 0.1);
    put(static_cast<char16>(u'0' + d1));
    v -= d1 * 0.1;
    int d2 = static_cast<int>(v / 0.010000000000000002);
    put(static_cast<char16>(u'0' + d2));
    string[at] = 0;
    return kResultOk;
}

// Only the integer part is read: "7.50" gives 7; not limited to the range.
tresult get_param_value_by_string(void*, ParamID id, char16* string, ParamValue* normalized) {
    const int row = param_row(id);
    if (row < 0 || !string || !normalized) return kResultFalse;
    size_t i = 0;
    const bool negative = string[0] == u'-';
    if (negative) i = 1;
    double v = 0;
    for (; string[i] >= u'0' && string[i] <= u'9'; ++i) v = v * 10 + (string[i] - u'0');
    if (negative) v = -v;
    *normalized = param_normalized(row, v);
    return kResultOk;
}

// For an ID that is none of the four these return the value unchanged.
ParamValue normalized_param_to_plain(void*, ParamID id, ParamValue normalized) {
    const int row = param_row(id);
    return row < 0 ? normalized : param_plain(row, normalized);
}

ParamValue plain_param_to_normalized(void*, ParamID id, ParamValue plain) {
    const int row = param_row(id);
    return row < 0 ? plain : param_normalized(row, plain);
}

ParamValue get_param_normalized(void* iface, ParamID id) {
    const int row = param_row(id);
    return row < 0 ? 0.0 : param_normalized(row, controller(iface)->values[row]);
}

// Also how the output parameter's changes arrive from the host.
tresult set_param_normalized(void* iface, ParamID id, ParamValue value) {
    const int row = param_row(id);
    if (row < 0) return kResultFalse;
    controller(iface)->values[row] = param_snap_row(param_plain(row, value), kParams[row]);
    return kResultOk;
}

tresult set_component_handler(void* iface, void* handler) {
    Vst3Controller* self = controller(iface);
    if (handler == self->component_handler) return kResultOk;
    if (self->component_handler) vtbl<IComponentHandlerVtbl>(self->component_handler)->release(self->component_handler);
    self->component_handler = handler;
    if (handler) vtbl<IComponentHandlerVtbl>(handler)->addRef(handler);
    return kResultOk;
}

// The editor view arrives with the editor; until then there is none.
void* create_view(void*, const char*) { return nullptr; }

const IEditControllerVtbl kControllerVtbl = {
    VEXO_FUNKNOWN_SLOTS(Vst3Controller, controller),
    .initialize = initialize,
    .terminate = terminate,
    .setComponentState = set_component_state,
    .setState = set_state,
    .getState = get_state,
    .getParameterCount = get_parameter_count,
    .getParameterInfo = get_parameter_info,
    .getParamStringByValue = get_param_string_by_value,
    .getParamValueByString = get_param_value_by_string,
    .normalizedParamToPlain = normalized_param_to_plain,
    .plainParamToNormalized = plain_param_to_normalized,
    .getParamNormalized = get_param_normalized,
    .setParamNormalized = set_param_normalized,
    .setComponentHandler = set_component_handler,
    .createView = create_view,
};

// ---------------------------------------------------------------------------
// IMidiMapping and IConnectionPoint

tresult get_midi_controller_assignment(void*, int32_t, int16_t, int16_t, ParamID*) { return kInvalidArgument; }

const IMidiMappingVtbl kMidiVtbl = {
    VEXO_FUNKNOWN_SLOTS(Vst3Controller, midi),
    .getMidiControllerAssignment = get_midi_controller_assignment,
};

const IConnectionPointVtbl kConnectionVtbl = {
    VEXO_FUNKNOWN_SLOTS(Vst3Controller, connection),
    .connect = connection_connect,
    .disconnect = connection_disconnect,
    .notify = connection_notify,
};

}  // namespace

void* vst3_controller_new() {
    Vst3Controller* self = static_cast<Vst3Controller*>(std::calloc(1, sizeof(Vst3Controller)));
    if (!self) return nullptr;
    self->controller = &kControllerVtbl;
    self->midi = &kMidiVtbl;
    self->connection = &kConnectionVtbl;
    new (&self->ref_count) std::atomic<uint32_t>(1);
    set_defaults(self);
    return &self->controller;
}

}  // namespace vexo
