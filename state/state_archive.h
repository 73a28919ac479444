// The plug-in's saved state: an outer tar stream holding "dsp.tar", itself a
// tar stream holding "info.map", "parameters.map" and "version" ("1.0").
// Written and accepted the same by both plug-in formats, so a state saved by
// one loads in the other. Members this program does not know are carried
// through a decode/encode round trip unchanged.
//
// No global state and no locks: loaded values reach the plug-in through a
// StateSink whose lock the caller supplies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state_map.h"

namespace vexo {

struct StateArchive {
    StateMap* info;          // entries of "info.map"
    StateMap* parameters;    // entries of "parameters.map"
    StateMap* inner_extras;  // foreign members of the inner stream
    StateMap* outer_extras;  // foreign members of the outer stream
};

// How loaded values reach an API layer: lock, three store_value calls (index
// 0..2, value in the parameter's own units, not yet snapped), unlock.
struct StateSink {
    void* data;
    void (*lock)(void* data);
    void (*unlock)(void* data);
    void (*store_value)(void* data, uint32_t index, float value);
};

// The four maps, empty. 0, or -1 when memory is exhausted (nothing kept).
int state_archive_init(StateArchive* archive);
void state_archive_free(StateArchive* archive);
// The state stream (release with state_free) and its length, or null.
void* state_archive_encode(const StateArchive* archive, size_t* out_len);
// 0, or -1 with errno EINVAL (malformed stream, missing member, unacceptable
// "version") or ENOMEM; after a failure nothing is allocated. On success the
// archive points into `bytes`, which must outlive it.
int state_archive_decode(StateArchive* archive, const void* bytes, size_t len);

// The state stream of this plug-in with the given parameter values, "format"
// (for example "lv2") and sample rate, or null when memory is exhausted.
void* plugin_state_encode(const char* format, size_t format_len, float sample_rate, float cutoff, float lfo_amt,
                          float lfo_speed, size_t* out_len);
// Validates the stream (identifier "brume-vexo", three 4-byte non-NaN
// parameter values) and only then hands all three values to the sink under
// its lock. 0 when applied, -1 otherwise (nothing applied).
int plugin_state_load(const void* bytes, size_t len, const StateSink* sink);

}  // namespace vexo
