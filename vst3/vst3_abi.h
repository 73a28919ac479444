// Our own declarations of the VST3 binary interface: result codes, interface
// IDs, the structs with their published layouts, and the function tables in
// slot order. Written from the published facts; no SDK header is used.
//
// The two platforms differ in result code values and in the byte order of
// interface IDs; both variants stand side by side in this one place. Every
// size and offset the plug-in relies on is checked below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vst3 {

using tresult = int32_t;
using TBool = uint8_t;
using char16 = char16_t;  // UTF-16 on both platforms (not wchar_t)
using ParamID = uint32_t;
using ParamValue = double;
using SpeakerArrangement = uint64_t;
using Uid = std::array<uint8_t, 16>;

#if defined(_WIN32)
// Exports come from the module's .def file.
#define VST3_EXPORT extern "C"
constexpr tresult kResultOk = 0;
constexpr tresult kResultTrue = 0;
constexpr tresult kResultFalse = 1;
constexpr tresult kNotImplemented = static_cast<tresult>(0x80004001u);
constexpr tresult kNoInterface = static_cast<tresult>(0x80004002u);
constexpr tresult kInvalidArgument = static_cast<tresult>(0x80070057u);
constexpr tresult kOutOfMemory = static_cast<tresult>(0x8007000Eu);

// COM layout: first group little-endian, the two 16-bit halves of the second
// group little-endian each, the last eight bytes in order.
constexpr Uid make_uid(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return Uid{uint8_t(a), uint8_t(a >> 8), uint8_t(a >> 16), uint8_t(a >> 24),
               uint8_t(b >> 16), uint8_t(b >> 24), uint8_t(b), uint8_t(b >> 8),
               uint8_t(c >> 24), uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c),
               uint8_t(d >> 24), uint8_t(d >> 16), uint8_t(d >> 8), uint8_t(d)};
}
#else
#define VST3_EXPORT extern "C" __attribute__((visibility("default")))
constexpr tresult kResultOk = 0;
constexpr tresult kResultTrue = 0;
constexpr tresult kResultFalse = 1;
constexpr tresult kNotImplemented = 3;
constexpr tresult kNoInterface = -1;
constexpr tresult kInvalidArgument = 2;
constexpr tresult kOutOfMemory = 6;

// All sixteen bytes big-endian, in the order the groups are written.
constexpr Uid make_uid(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return Uid{uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a),
               uint8_t(b >> 24), uint8_t(b >> 16), uint8_t(b >> 8), uint8_t(b),
               uint8_t(c >> 24), uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c),
               uint8_t(d >> 24), uint8_t(d >> 16), uint8_t(d >> 8), uint8_t(d)};
}
#endif

// Interface IDs as published (four 32-bit groups).
constexpr Uid kFUnknownIid = make_uid(0x00000000, 0x00000000, 0xC0000000, 0x00000046);
constexpr Uid kIPluginBaseIid = make_uid(0x22888DDB, 0x156E45AE, 0x8358B348, 0x08190625);
constexpr Uid kIPluginFactoryIid = make_uid(0x7A4D811C, 0x52114A1F, 0xAED9D2EE, 0x0B43BF9F);
constexpr Uid kIPluginFactory2Iid = make_uid(0x0007B650, 0xF24B4C0B, 0xA464EDB9, 0xF00B2ABB);
constexpr Uid kIPluginFactory3Iid = make_uid(0x4555A2AB, 0xC1234E57, 0x9B122910, 0x36878931);
constexpr Uid kIComponentIid = make_uid(0xE831FF31, 0xF2D54301, 0x928EBBEE, 0x25697802);
constexpr Uid kIAudioProcessorIid = make_uid(0x42043F99, 0xB7DA453C, 0xA569E79D, 0x9AAEC33D);
constexpr Uid kIProcessContextRequirementsIid = make_uid(0x2A654303, 0xEF764E3D, 0x95B5FE83, 0x730EF6D0);
constexpr Uid kIConnectionPointIid = make_uid(0x70A4156F, 0x6E6E4026, 0x989148BF, 0xAA60D8D1);
constexpr Uid kIEditControllerIid = make_uid(0xDCD7BBE3, 0x7742448D, 0xA874AACC, 0x979C759E);
constexpr Uid kIMidiMappingIid = make_uid(0xDF0FF9F7, 0x49B74669, 0xB63AB732, 0x7ADBF5E5);
constexpr Uid kIPlugViewIid = make_uid(0x5BC32507, 0xD06049EA, 0xA6151B52, 0x2B755B29);
constexpr Uid kIBStreamIid = make_uid(0xC3BF6EA2, 0x30994752, 0x9B6BF990, 0x1EE33E9B);
constexpr Uid kIParameterChangesIid = make_uid(0xA4779663, 0x0BB64A56, 0xB44384A8, 0x466FEB9D);
constexpr Uid kIParamValueQueueIid = make_uid(0x01263A18, 0xED074F6F, 0x98C9D356, 0x4686F9BA);
constexpr Uid kIComponentHandlerIid = make_uid(0x93A0BEA3, 0x0BD045DB, 0x8E890B0C, 0xC1E46AC6);

// Constants.
constexpr SpeakerArrangement kSpeakerM = 0x80000;
constexpr int32_t kSample32 = 0;
constexpr int32_t kSample64 = 1;
constexpr int32_t kUnicode = 16;
constexpr int32_t kManyInstances = 0x7FFFFFFF;
constexpr uint32_t kDistributable = 1;
constexpr int32_t kCanAutomate = 1;
constexpr int32_t kIsReadOnly = 2;
constexpr int32_t kAudio = 0;
constexpr int32_t kEvent = 1;
constexpr int32_t kInput = 0;
constexpr int32_t kOutput = 1;
constexpr int32_t kMain = 0;
constexpr uint32_t kDefaultActive = 1;
constexpr int32_t kIBSeekSet = 0;
constexpr int32_t kIBSeekCur = 1;
constexpr int32_t kIBSeekEnd = 2;

// ---------------------------------------------------------------------------
// Structs

struct PFactoryInfo {
    char vendor[64];
    char url[256];
    char email[128];
    int32_t flags;
};

struct PClassInfo {
    uint8_t cid[16];
    int32_t cardinality;
    char category[32];
    char name[64];
};

struct PClassInfo2 {
    uint8_t cid[16];
    int32_t cardinality;
    char category[32];
    char name[64];
    uint32_t classFlags;
    char subCategories[128];
    char vendor[64];
    char version[64];
    char sdkVersion[64];
};

struct PClassInfoW {
    uint8_t cid[16];
    int32_t cardinality;
    char category[32];
    char16 name[64];
    uint32_t classFlags;
    char subCategories[128];
    char16 vendor[64];
    char16 version[64];
    char16 sdkVersion[64];
};

struct BusInfo {
    int32_t mediaType;
    int32_t direction;
    int32_t channelCount;
    char16 name[128];
    int32_t busType;
    uint32_t flags;
};

struct RoutingInfo {
    int32_t mediaType;
    int32_t busIndex;
    int32_t channel;
};

struct ProcessSetup {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t maxSamplesPerBlock;
    double sampleRate;
};

struct AudioBusBuffers {
    int32_t numChannels;
    uint64_t silenceFlags;
    union {
        float** channelBuffers32;
        double** channelBuffers64;
    };
};

struct ProcessData {
    int32_t processMode;
    int32_t symbolicSampleSize;
    int32_t numSamples;
    int32_t numInputs;
    int32_t numOutputs;
    AudioBusBuffers* inputs;
    AudioBusBuffers* outputs;
    void* inputParameterChanges;   // IParameterChanges*
    void* outputParameterChanges;  // IParameterChanges*
    void* inputEvents;
    void* outputEvents;
    void* processContext;
};

struct ParameterInfo {
    ParamID id;
    char16 title[128];
    char16 shortTitle[128];
    char16 units[128];
    int32_t stepCount;
    ParamValue defaultNormalizedValue;
    int32_t unitId;
    int32_t flags;
};

struct ViewRect {
    int32_t left, top, right, bottom;
};

static_assert(sizeof(PFactoryInfo) == 452 && offsetof(PFactoryInfo, url) == 64 && offsetof(PFactoryInfo, email) == 320 &&
              offsetof(PFactoryInfo, flags) == 448);
static_assert(sizeof(PClassInfo) == 116 && offsetof(PClassInfo, cardinality) == 16 &&
              offsetof(PClassInfo, category) == 20 && offsetof(PClassInfo, name) == 52);
static_assert(sizeof(PClassInfo2) == 440 && offsetof(PClassInfo2, classFlags) == 116 &&
              offsetof(PClassInfo2, subCategories) == 120 && offsetof(PClassInfo2, vendor) == 248 &&
              offsetof(PClassInfo2, version) == 312 && offsetof(PClassInfo2, sdkVersion) == 376);
static_assert(sizeof(PClassInfoW) == 696 && offsetof(PClassInfoW, name) == 52 &&
              offsetof(PClassInfoW, classFlags) == 180 && offsetof(PClassInfoW, subCategories) == 184 &&
              offsetof(PClassInfoW, vendor) == 312 && offsetof(PClassInfoW, version) == 440 &&
              offsetof(PClassInfoW, sdkVersion) == 568);
static_assert(sizeof(BusInfo) == 276 && offsetof(BusInfo, channelCount) == 8 && offsetof(BusInfo, name) == 12 &&
              offsetof(BusInfo, busType) == 268 && offsetof(BusInfo, flags) == 272);
static_assert(sizeof(RoutingInfo) == 12);
static_assert(sizeof(ProcessSetup) == 24 && offsetof(ProcessSetup, maxSamplesPerBlock) == 8 &&
              offsetof(ProcessSetup, sampleRate) == 16);
static_assert(sizeof(AudioBusBuffers) == 24 && offsetof(AudioBusBuffers, silenceFlags) == 8 &&
              offsetof(AudioBusBuffers, channelBuffers32) == 16);
static_assert(sizeof(ProcessData) == 80 && offsetof(ProcessData, numSamples) == 8 &&
              offsetof(ProcessData, numInputs) == 12 && offsetof(ProcessData, numOutputs) == 16 &&
              offsetof(ProcessData, inputs) == 24 && offsetof(ProcessData, outputs) == 32 &&
              offsetof(ProcessData, inputParameterChanges) == 40 &&
              offsetof(ProcessData, outputParameterChanges) == 48 && offsetof(ProcessData, inputEvents) == 56 &&
              offsetof(ProcessData, outputEvents) == 64 && offsetof(ProcessData, processContext) == 72);
static_assert(sizeof(ParameterInfo) == 792 && offsetof(ParameterInfo, title) == 4 &&
              offsetof(ParameterInfo, shortTitle) == 260 && offsetof(ParameterInfo, units) == 516 &&
              offsetof(ParameterInfo, stepCount) == 772 && offsetof(ParameterInfo, defaultNormalizedValue) == 776 &&
              offsetof(ParameterInfo, unitId) == 784 && offsetof(ParameterInfo, flags) == 788);
static_assert(sizeof(ViewRect) == 16);

// ---------------------------------------------------------------------------
// Function tables, in slot order. `self` is the interface pointer: the
// address of the object's pointer to this table.

#define VST3_FUNKNOWN_SLOTS                                              \
    tresult (*queryInterface)(void* self, const uint8_t* iid, void** obj); \
    uint32_t (*addRef)(void* self);                                      \
    uint32_t (*release)(void* self)

struct FUnknownVtbl {
    VST3_FUNKNOWN_SLOTS;
};

struct IPluginFactory3Vtbl {
    VST3_FUNKNOWN_SLOTS;
    tresult (*getFactoryInfo)(void* self, PFactoryInfo* info);
    int32_t (*countClasses)(void* self);
    tresult (*getClassInfo)(void* self, int32_t index, PClassInfo* info);
    tresult (*createInstance)(void* self, const char* cid, const char* iid, void** obj);
    tresult (*getClassInfo2)(void* self, int32_t index, PClassInfo2* info);
    tresult (*getClassInfoUnicode)(void* self, int32_t index, PClassInfoW* info);
    tresult (*setHostContext)(void* self, void* context);
};

struct IComponentVtbl {
    VST3_FUNKNOWN_SLOTS;
    tresult (*initialize)(void* self, void* context);
    tresult (*terminate)(void* self);
    tresult (*getControllerClassId)(void* self, uint8_t* class_id);
    tresult (*setIoMode)(void* self, int32_t mode);
    int32_t (*getBusCount)(void* self, int32_t type, int32_t dir);
    tresult (*getBusInfo)(void* self, int32_t type, int32_t dir, int32_t index, BusInfo* bus);
    tresult (*getRoutingInfo)(void* self, RoutingInfo* in, RoutingInfo* out);
    tresult (*activateBus)(void* self, int32_t type, int32_t dir, int32_t index, TBool state);
    tresult (*setActive)(void* self, TBool state);
    tresult (*setState)(void* self, void* stream);
    tresult (*getState)(void* self, void* stream);
};

struct IAudioProcessorVtbl {
    VST3_FUNKNOWN_SLOTS;
    tresult (*setBusArrangements)(void* self, SpeakerArrangement* inputs, int32_t num_ins,
                                  SpeakerArrangement* outputs, int32_t num_outs);
    tresult (*getBusArrangement)(void* self, int32_t dir, int32_t index, SpeakerArrangement* arr);
    tresult (*canProcessSampleSize)(void* self, int32_t size);
    uint32_t (*getLatencySamples)(void* self);
    tresult (*setupProcessing)(void* self, ProcessSetup* setup);
    tresult (*setProcessing)(void* self, TBool state);
    tresult (*process)(void* self, ProcessData* data);
    uint32_t (*getTailSamples)(void* self);
};

struct IProcessContextRequirementsVtbl {
    VST3_FUNKNOWN_SLOTS;
    uint32_t (*getProcessContextRequirements)(void* self);
};

struct IConnectionPointVtbl {
    VST3_FUNKNOWN_SLOTS;
    tresult (*connect)(void* self, void* other);
    tresult (*disconnect)(void* self, void* other);
    tresult (*notify)(void* self, void* message);
};

struct IEditControllerVtbl {
    VST3_FUNKNOWN_SLOTS;
    tresult (*initialize)(void* self, void* context);
    tresult (*terminate)(void* self);
    tresult (*setComponentState)(void* self, void* stream);
    tresult (*setState)(void* self, void* stream);
    tresult (*getState)(void* self, void* stream);
    int32_t (*getParameterCount)(void* self);
    tresult (*getParameterInfo)(void* self, int32_t index, ParameterInfo* info);
    tresult (*getParamStringByValue)(void* self, ParamID id, ParamValue normalized, char16* string);
    tresult (*getParamValueByString)(void* self, ParamID id, char16* string, ParamValue* normalized);
    ParamValue (*normalizedParamToPlain)(void* self, ParamID id, ParamValue normalized);
    ParamValue (*plainParamToNormalized)(void* self, ParamID id, ParamValue plain);
    ParamValue (*getParamNormalized)(void* self, ParamID id);
    tresult (*setParamNormalized)(void* self, ParamID id, ParamValue value);
    tresult (*setComponentHandler)(void* self, void* handler);
    void* (*createView)(void* self, const char* name);
};

struct IMidiMappingVtbl {
    VST3_FUNKNOWN_SLOTS;
    tresult (*getMidiControllerAssignment)(void* self, int32_t bus_index, int16_t channel, int16_t controller,
                                           ParamID* id);
};

// Host interfaces the plug-in calls.
struct IBStreamVtbl {
    VST3_FUNKNOWN_SLOTS;
    tresult (*read)(void* self, void* buffer, int32_t num_bytes, int32_t* num_read);
    tresult (*write)(void* self, void* buffer, int32_t num_bytes, int32_t* num_written);
    tresult (*seek)(void* self, int64_t pos, int32_t mode, int64_t* result);
    tresult (*tell)(void* self, int64_t* pos);
};

struct IParamValueQueueVtbl {
    VST3_FUNKNOWN_SLOTS;
    ParamID (*getParameterId)(void* self);
    int32_t (*getPointCount)(void* self);
    tresult (*getPoint)(void* self, int32_t index, int32_t* sample_offset, ParamValue* value);
    tresult (*addPoint)(void* self, int32_t sample_offset, ParamValue value, int32_t* index);
};

struct IParameterChangesVtbl {
    VST3_FUNKNOWN_SLOTS;
    int32_t (*getParameterCount)(void* self);
    void* (*getParameterData)(void* self, int32_t index);  // IParamValueQueue*
    void* (*addParameterData)(void* self, const ParamID* id, int32_t* index);
};

struct IComponentHandlerVtbl {
    VST3_FUNKNOWN_SLOTS;
    tresult (*beginEdit)(void* self, ParamID id);
    tresult (*performEdit)(void* self, ParamID id, ParamValue normalized);
    tresult (*endEdit)(void* self, ParamID id);
    tresult (*restartComponent)(void* self, int32_t flags);
};

#undef VST3_FUNKNOWN_SLOTS

// The table of an interface pointer: its first member points to it.
template <typename Vtbl>
inline const Vtbl* vtbl(void* iface) {
    return *static_cast<const Vtbl* const*>(iface);
}

// Slot positions that the tests check against the published order.
static_assert(offsetof(IPluginFactory3Vtbl, createInstance) == 6 * sizeof(void*));
static_assert(offsetof(IPluginFactory3Vtbl, setHostContext) == 9 * sizeof(void*));
static_assert(offsetof(IComponentVtbl, getState) == 13 * sizeof(void*));
static_assert(offsetof(IAudioProcessorVtbl, getTailSamples) == 10 * sizeof(void*));
static_assert(offsetof(IEditControllerVtbl, createView) == 17 * sizeof(void*));
static_assert(offsetof(IBStreamVtbl, tell) == 6 * sizeof(void*));
static_assert(offsetof(IParamValueQueueVtbl, addPoint) == 6 * sizeof(void*));
static_assert(offsetof(IComponentHandlerVtbl, restartComponent) == 6 * sizeof(void*));

inline bool same_uid(const void* a, const Uid& b) {
    const uint8_t* p = static_cast<const uint8_t*>(a);
    for (size_t i = 0; i < 16; ++i)
        if (p[i] != b[i]) return false;
    return true;
}

}  // namespace vst3
