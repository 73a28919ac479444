// Reading and writing the three parameter values of a state stream in tests.
#pragma once

#include <cstring>
#include <ostream>
#include <vector>

#include "state/state_alloc.h"
#include "state/state_archive.h"

namespace vexo_test {

struct Triple {
    float c = -1, a = -1, s = -1;  // cutoff, lfo_amt, lfo_speed
    bool operator==(const Triple&) const = default;
};

inline std::ostream& operator<<(std::ostream& o, const Triple& t) {
    return o << "(" << t.c << ", " << t.a << ", " << t.s << ")";
}

// The values in a stream as plugin_state_load hands them over; all -1 when
// the stream is refused.
inline Triple values_in(const std::vector<unsigned char>& stream) {
    Triple t;
    vexo::StateSink sink{&t, [](void*) {}, [](void*) {},
                         [](void* d, uint32_t i, float v) {
                             Triple* t = static_cast<Triple*>(d);
                             (i == 0 ? t->c : i == 1 ? t->a : t->s) = v;
                         }};
    vexo::plugin_state_load(stream.data(), stream.size(), &sink);
    return t;
}

// A state stream as the given format would save it.
inline std::vector<unsigned char> state_stream(const char* format, float c, float a, float s, float rate = 48000) {
    size_t len = 0;
    void* p = vexo::plugin_state_encode(format, std::strlen(format), rate, c, a, s, &len);
    std::vector<unsigned char> b(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + len);
    vexo::state_free(p);
    return b;
}

}  // namespace vexo_test
