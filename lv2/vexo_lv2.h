// The LV2 plug-in instance and the helpers the descriptor's entry points
// share. Kept in a header so the state interface and the UI can see the
// instance; nothing here is exported from the module except through
// lv2_descriptor.
#pragma once

#include <cstdint>

#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include "engine/engine.h"
#include "state/param_exchange.h"

namespace vexo {

// Every URI the module carries. The plug-in URI never changes: saved
// sessions and presets refer to it.
#define VEXO_LV2_URI "https://brume-audio.org/plugins/vexo"
constexpr const char* kPluginUri = VEXO_LV2_URI;
constexpr const char* kUiUri = VEXO_LV2_URI "#ui";
constexpr const char* kStateKeyUri = VEXO_LV2_URI "#state_data";

enum Lv2Port : uint32_t {
    kPortAudioIn = 0,
    kPortAudioOut = 1,
    kPortCutoff = 2,
    kPortLfoAmt = 3,
    kPortLfoSpeed = 4,
    kPortCutoffMod = 5,
    kPortCount = 6,
};

// Control input port of parameter i is port i + kPortCutoff.
constexpr uint32_t kFirstControlPort = kPortCutoff;

struct Lv2Instance {
    Engine engine;
    float* ports[kPortCount];
    // Parameter values shared with the state interface. host_values holds,
    // per control input, the last value taken from its port after rounding.
    ParamExchange params;
    LV2_Log_Log* log;
    LV2_URID log_error_type;
    LV2_URID log_note_type;
    LV2_URID log_trace_type;
    LV2_URID log_warning_type;
    LV2_URID_Map* map;
    LV2_URID atom_chunk_type;
    LV2_URID state_key;
};

// Feature lookup: after `features`, triples of (feature URI, void** where to
// store its data, int required), ended by a null URI. Returns the URI of the
// first required feature that is missing (or has null data), else null.
const char* query_features(const LV2_Feature* const* features, ...);

// One message to the host's log as log:Error, or to stderr without a log.
// Never called from run.
void log_message(Lv2Instance* self, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

// A control value as a whole step 0..15, returned as a float: +-0.5 then
// truncation toward zero; NaN and negative results give 0, above 15 gives 15.
float round_to_step(float value);

// The state interface (save and restore), answered for state:interface.
const void* lv2_state_interface();

}  // namespace vexo
