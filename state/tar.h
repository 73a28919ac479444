// In-memory ustar streams: a StateMap of members (name -> content) written as
// one byte stream, and read back.
//
// The writer emits regular files with fixed mode, owner and time fields, in
// the map's key order, and ends with two zero blocks. The reader takes only
// name and size from each header and never reads outside its input.
#pragma once

#include <cstddef>

#include "state_map.h"

namespace vexo {

// The stream as one heap block (release with state_free) and its length, or
// null: a member name of 100 bytes or more, content of 2^31 bytes or more,
// or memory exhausted.
void* tar_encode(const StateMap* members, size_t* out_len);

// The members of a stream, pointing into `bytes`; null with errno EINVAL (a
// malformed size field, a header cut short by the end of the input, or
// content reaching past it) or ENOMEM.
StateMap* tar_decode(const void* bytes, size_t len);

}  // namespace vexo
