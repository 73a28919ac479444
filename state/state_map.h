// StateMap: an ordered map from byte-string keys to byte-string values that
// refers to bytes it does not own, and the map file format it is stored in.
//
// Keys and values are never copied or freed by the map: whoever adds an
// entry keeps its bytes alive and unchanged until the map is freed. Adding a
// key that is already present keeps both entries. No global state; any
// thread, one map per thread at a time.
#pragma once

#include <cstddef>

namespace vexo {

struct StateMap;

using StateMapVisitor = int (*)(const void* key, size_t key_len, const void* value, size_t value_len, void* user);

// An empty map, or null when memory is exhausted.
StateMap* state_map_new();
// Frees the map's nodes and entries; key and value bytes are left alone.
void state_map_free(StateMap* map);
// 0, or -1 when memory is exhausted (nothing added).
int state_map_add(StateMap* map, const void* key, size_t key_len, const void* value, size_t value_len);
// The value of an entry with an equal key and its length, or null (and
// *value_len untouched) when there is none.
const void* state_map_get(const StateMap* map, const void* key, size_t key_len, size_t* value_len);
// Calls visitor for every entry in ascending key order; the first non-zero
// result stops the walk and is returned, else 0.
int state_map_for_each(const StateMap* map, StateMapVisitor visitor, void* user);

// Map file: records of key length (u32 LE, at least 1), value length (u32
// LE), key bytes, value bytes, in key order, nothing else. For example the
// key "cutoff" with a 4-byte value is 18 bytes:
//   06 00 00 00  04 00 00 00  63 75 74 6f 66 66  vv vv vv vv
// Returns one heap block (release with state_free) and its length; null for
// an empty map or when memory is exhausted.
void* state_map_encode(const StateMap* map, size_t* out_len);
// A map whose keys and values point into `bytes`, or null with errno EINVAL
// (a record with key length 0, or one that reaches past the end) or ENOMEM.
StateMap* state_map_decode(const void* bytes, size_t len);

}  // namespace vexo
