// The audio component: IComponent, IAudioProcessor,
// IProcessContextRequirements and IConnectionPoint in one object around one
// Engine.
//
// Threads: process runs on the host's audio thread and allocates nothing,
// never waits and makes no system call; getState and setState may run at
// the same time on another thread and meet process only through the
// parameter exchange. Every other method is called while no processing runs.
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/engine.h"
#include "platform/platform.h"
#include "state/param_exchange.h"
#include "state/state_alloc.h"
#include "state/state_archive.h"
#include "vst3_object.h"
#include "vst3_plugin.h"

using namespace vst3;

namespace vexo {

namespace {

// A host that activates before it ever sets up processing gets this rate,
// so that the Engine never runs at 0 Hz.
constexpr float kFallbackSampleRate = 44100.0f;

struct Vst3Component {
    const IComponentVtbl* component;
    const IAudioProcessorVtbl* processor;
    const IProcessContextRequirementsVtbl* requirements;
    const IConnectionPointVtbl* connection;
    std::atomic<uint32_t> ref_count;
    void* context;
    Engine engine;
    float setup_sample_rate;
    ParamExchange params;  // host_values: last value from the host's queues, snapped
    float last_output_value;
    float* input_channel;
    float* output_channel;
    uint8_t active;
    uint8_t input_bus_active;
    uint8_t output_bus_active;
};

// ---------------------------------------------------------------------------
// FUnknown, shared by the four interfaces

tresult object_query(Vst3Component* self, const uint8_t* iid, void** obj) {
    if (!obj) return kInvalidArgument;
    void* found = nullptr;
    if (iid) {
        if (same_uid(iid, kFUnknownIid) || same_uid(iid, kIPluginBaseIid) || same_uid(iid, kIComponentIid))
            found = &self->component;
        else if (same_uid(iid, kIAudioProcessorIid))
            found = &self->processor;
        else if (same_uid(iid, kIProcessContextRequirementsIid))
            found = &self->requirements;
        else if (same_uid(iid, kIConnectionPointIid))
            found = &self->connection;
    }
    *obj = found;
    if (!found) return kNoInterface;
    self->ref_count.fetch_add(1);
    return kResultOk;
}

uint32_t object_release(Vst3Component* self) {
    uint32_t left = self->ref_count.fetch_sub(1) - 1;
    if (left == 0) {
        self->params.lock.~ParamLock();
        self->ref_count.~atomic();
        std::free(self);
    }
    return left;
}

// ---------------------------------------------------------------------------
// IComponent

Vst3Component* component(void* iface) {
    return InterfaceOf<Vst3Component, offsetof(Vst3Component, component)>::object(iface);
}

// [main-thread]
tresult initialize(void* iface, void* context) {
    Vst3Component* self = component(iface);
    if (self->context) return kResultFalse;
    self->context = context;
    engine_init(&self->engine);
    param_exchange_init(&self->params, &self->engine);
    self->setup_sample_rate = 0.0f;
    self->last_output_value = static_cast<float>(kParams[kParamCutoffMod].default_value);
    self->input_channel = nullptr;
    self->output_channel = nullptr;
    self->active = 0;
    self->input_bus_active = 0;
    self->output_bus_active = 0;
    return kResultOk;
}

tresult terminate(void* iface) {
    component(iface)->context = nullptr;
    return kResultOk;
}

tresult get_controller_class_id(void*, uint8_t* class_id) {
    if (!class_id) return kResultFalse;
    std::memcpy(class_id, kControllerClassId.data(), 16);
    return kResultOk;
}

tresult set_io_mode(void*, int32_t) { return kNotImplemented; }

bool is_audio_bus(int32_t type, int32_t dir, int32_t index) {
    return type == kAudio && index == 0 && (dir == kInput || dir == kOutput);
}

int32_t get_bus_count(void*, int32_t type, int32_t dir) {
    return type == kAudio && (dir == kInput || dir == kOutput) ? 1 : 0;
}

tresult get_bus_info(void*, int32_t type, int32_t dir, int32_t index, BusInfo* bus) {
    if (!is_audio_bus(type, dir, index) || !bus) return kInvalidArgument;
    bus->mediaType = kAudio;
    bus->direction = dir;
    bus->channelCount = 1;
    copy_text(bus->name, 128, dir == kInput ? "Input" : "Output");
    bus->busType = kMain;
    bus->flags = kDefaultActive;
    return kResultOk;
}

tresult get_routing_info(void*, RoutingInfo*, RoutingInfo*) { return kNotImplemented; }

tresult activate_bus(void* iface, int32_t type, int32_t dir, int32_t index, TBool state) {
    if (!is_audio_bus(type, dir, index)) return kInvalidArgument;
    Vst3Component* self = component(iface);
    (dir == kInput ? self->input_bus_active : self->output_bus_active) = state ? 1 : 0;
    return kResultOk;
}

// [main-thread] A host that has not activated both buses gets silence.
tresult set_active(void* iface, TBool state) {
    Vst3Component* self = component(iface);
    if (!state) return kResultOk;
    self->active = self->input_bus_active && self->output_bus_active ? 1 : 0;
    float rate = self->setup_sample_rate;
    if (!(rate > 0.0f) || !(rate < 1e9f)) rate = kFallbackSampleRate;
    engine_set_sample_rate(&self->engine, rate);
    engine_reset(&self->engine);
    return kResultOk;
}

double snap_row(uint32_t row, double value) { return param_snap_row(value, kParams[row]); }
float snap_row_float(uint32_t row, float value) { return static_cast<float>(snap_row(row, value)); }

// [state thread] Refused or unreadable states change nothing.
tresult set_state(void* iface, void* stream) {
    if (!stream) return kResultFalse;
    Vst3Component* self = component(iface);
    unsigned char* bytes = nullptr;
    size_t len = 0;
    if (read_whole_stream(stream, &bytes, &len) != 0) return kResultFalse;
    ParamExchangeSink target{&self->params, snap_row_float};
    const StateSink sink = param_exchange_sink(&target);
    int r = plugin_state_load(bytes, len, &sink);
    state_free(bytes);
    return r == 0 ? kResultOk : kResultFalse;
}

// [state thread]
tresult get_state(void* iface, void* stream) {
    if (!stream) return kResultFalse;
    Vst3Component* self = component(iface);
    float values[kInputParamCount];
    param_exchange_snapshot(&self->params, &self->engine, values);
    size_t len = 0;
    void* bytes = plugin_state_encode("vst3", 4, engine_sample_rate(&self->engine), values[0], values[1], values[2], &len);
    if (!bytes) return kResultFalse;
    const IBStreamVtbl* s = vtbl<IBStreamVtbl>(stream);
    size_t written = 0;
    while (written < len) {
        size_t want = len - written;
        int32_t chunk = want > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(want);
        int32_t did = 0;
        s->write(stream, static_cast<unsigned char*>(bytes) + written, chunk, &did);
        if (did > 0) written += static_cast<size_t>(did);
        if (did != chunk) break;
    }
    state_free(bytes);
    return written == len ? kResultOk : kResultFalse;
}

const IComponentVtbl kComponentVtbl = {
    VEXO_FUNKNOWN_SLOTS(Vst3Component, component),
    .initialize = initialize,
    .terminate = terminate,
    .getControllerClassId = get_controller_class_id,
    .setIoMode = set_io_mode,
    .getBusCount = get_bus_count,
    .getBusInfo = get_bus_info,
    .getRoutingInfo = get_routing_info,
    .activateBus = activate_bus,
    .setActive = set_active,
    .setState = set_state,
    .getState = get_state,
};

// ---------------------------------------------------------------------------
// IAudioProcessor

Vst3Component* processor(void* iface) {
    return InterfaceOf<Vst3Component, offsetof(Vst3Component, processor)>::object(iface);
}

tresult set_bus_arrangements(void*, SpeakerArrangement* inputs, int32_t num_ins, SpeakerArrangement* outputs,
                             int32_t num_outs) {
    if (num_ins < 0 || num_outs < 0) return kInvalidArgument;
    if (num_ins == 1 && num_outs == 1 && inputs && outputs && inputs[0] == kSpeakerM && outputs[0] == kSpeakerM)
        return kResultOk;
    return kResultFalse;
}

tresult get_bus_arrangement(void*, int32_t dir, int32_t index, SpeakerArrangement* arr) {
    if ((dir != kInput && dir != kOutput) || index != 0 || !arr) return kInvalidArgument;
    *arr = kSpeakerM;
    return kResultOk;
}

tresult can_process_sample_size(void*, int32_t size) { return size == kSample32 ? kResultTrue : kNotImplemented; }
uint32_t get_latency_samples(void*) { return 0; }

tresult setup_processing(void* iface, ProcessSetup* setup) {
    if (!setup) return kInvalidArgument;
    processor(iface)->setup_sample_rate = static_cast<float>(setup->sampleRate);
    return kResultOk;
}

tresult set_processing(void*, TBool) { return kNotImplemented; }

// [audio-thread] Host parameter changes, once at block start (points at
// offset 0) and once at block end (the last point of a queue, when it lies
// after offset 0). Other points are dropped: values change per block.
void apply_changes(Vst3Component* self, ProcessData* data, bool at_start) {
    const bool locked = param_exchange_begin(&self->params, &self->engine);
    void* changes = data->inputParameterChanges;
    if (changes) {
        const IParameterChangesVtbl* c = vtbl<IParameterChangesVtbl>(changes);
        const int32_t count = c->getParameterCount(changes);
        for (int32_t q = 0; q < count; ++q) {
            void* queue = c->getParameterData(changes, q);
            if (!queue) continue;
            const IParamValueQueueVtbl* v = vtbl<IParamValueQueueVtbl>(queue);
            const int32_t points = v->getPointCount(queue);
            if (points <= 0) continue;
            int32_t offset = 0;
            ParamValue value = 0;
            if (v->getPoint(queue, at_start ? 0 : points - 1, &offset, &value) != kResultOk) continue;
            if (at_start ? offset != 0 : offset <= 0) continue;
            const int row = param_row(v->getParameterId(queue));
            if (row < 0 || row >= static_cast<int>(kInputParamCount)) continue;
            const double plain = snap_row(static_cast<uint32_t>(row), param_plain(row, value));
            param_exchange_host_value(&self->params, &self->engine, locked, static_cast<uint32_t>(row),
                                      static_cast<float>(plain));
        }
    }
    param_exchange_end(&self->params, locked);
}

// Writes zeros to every channel of every output bus; missing buffers are
// skipped.
void silence_outputs(ProcessData* data, int32_t n, bool skip_first) {
    if (!data->outputs || n <= 0) return;
    bool first = true;
    for (int32_t b = 0; b < data->numOutputs; ++b) {
        AudioBusBuffers& bus = data->outputs[b];
        if (!bus.channelBuffers32) continue;
        for (int32_t ch = 0; ch < bus.numChannels; ++ch) {
            float* out = bus.channelBuffers32[ch];
            if (!out) continue;
            if (!(skip_first && first)) std::memset(out, 0, static_cast<size_t>(n) * sizeof(float));
            first = false;
        }
    }
}

// The first channel of the first bus that has one.
float* first_channel(AudioBusBuffers* buses, int32_t count) {
    if (!buses) return nullptr;
    for (int32_t b = 0; b < count; ++b)
        if (buses[b].channelBuffers32)
            for (int32_t ch = 0; ch < buses[b].numChannels; ++ch)
                if (buses[b].channelBuffers32[ch]) return buses[b].channelBuffers32[ch];
    return nullptr;
}

// [audio-thread] No allocation, no waiting, no system call of its own.
tresult process(void* iface, ProcessData* data) {
    if (!data) return kResultOk;
    Vst3Component* self = processor(iface);
    const uint32_t saved_fp = platform_denormals_off();
    const int32_t n = data->numSamples > 0 ? data->numSamples : 0;

    apply_changes(self, data, true);
    if (!self->active) {
        silence_outputs(data, n, false);
    } else {
        self->input_channel = first_channel(data->inputs, data->numInputs);
        self->output_channel = first_channel(data->outputs, data->numOutputs);
        if (n > 0 && self->input_channel && self->output_channel) {
            engine_process(&self->engine, self->input_channel, self->output_channel, static_cast<uint32_t>(n));
            silence_outputs(data, n, true);  // channels past the one mono output
        } else {
            // Samples but no input or no output channel: nothing to filter,
            // and whatever output exists carries silence.
            silence_outputs(data, n, false);
        }
    }
    apply_changes(self, data, false);

    const float r = engine_get_parameter(&self->engine, kParamCutoffMod);
    if (r != self->last_output_value) {
        self->last_output_value = r;
        void* out = data->outputParameterChanges;
        if (out) {
            int32_t index = 0;
            void* queue = vtbl<IParameterChangesVtbl>(out)->addParameterData(out, &kParamIds[kParamCutoffMod], &index);
            // At the block's last sample; an empty block has only offset 0.
            if (queue) vtbl<IParamValueQueueVtbl>(queue)->addPoint(queue, n > 0 ? n - 1 : 0, r / 255.0, &index);
        }
    }
    platform_denormals_restore(saved_fp);
    return kResultOk;
}

uint32_t get_tail_samples(void*) { return 0; }

const IAudioProcessorVtbl kProcessorVtbl = {
    VEXO_FUNKNOWN_SLOTS(Vst3Component, processor),
    .setBusArrangements = set_bus_arrangements,
    .getBusArrangement = get_bus_arrangement,
    .canProcessSampleSize = can_process_sample_size,
    .getLatencySamples = get_latency_samples,
    .setupProcessing = setup_processing,
    .setProcessing = set_processing,
    .process = process,
    .getTailSamples = get_tail_samples,
};

// ---------------------------------------------------------------------------
// IProcessContextRequirements and IConnectionPoint

uint32_t get_process_context_requirements(void*) { return 0; }

const IProcessContextRequirementsVtbl kRequirementsVtbl = {
    VEXO_FUNKNOWN_SLOTS(Vst3Component, requirements),
    .getProcessContextRequirements = get_process_context_requirements,
};

const IConnectionPointVtbl kConnectionVtbl = {
    VEXO_FUNKNOWN_SLOTS(Vst3Component, connection),
    .connect = connection_connect,
    .disconnect = connection_disconnect,
    .notify = connection_notify,
};

}  // namespace

void* vst3_component_new() {
    Vst3Component* self = static_cast<Vst3Component*>(std::calloc(1, sizeof(Vst3Component)));
    if (!self) return nullptr;
    self->component = &kComponentVtbl;
    self->processor = &kProcessorVtbl;
    self->requirements = &kRequirementsVtbl;
    self->connection = &kConnectionVtbl;
    new (&self->ref_count) std::atomic<uint32_t>(1);
    new (&self->params.lock) ParamLock(0);
    // Usable even before initialize: a host that skips it gets defaults.
    engine_init(&self->engine);
    param_exchange_init(&self->params, &self->engine);
    self->last_output_value = static_cast<float>(kParams[kParamCutoffMod].default_value);
    return &self->component;
}

}  // namespace vexo
