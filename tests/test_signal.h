// Deterministic test signals and helpers shared by the test programs. Built
// from integer arithmetic only, so both builds (and both C libraries) make
// the same samples.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace vexo_test {

// A small linear congruential generator (Numerical Recipes constants).
struct Lcg {
    uint32_t state;
    explicit Lcg(uint32_t seed) : state(seed) {}
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state;
    }
    // Uniform in [-1, 1), exactly representable.
    float noise() { return static_cast<float>(static_cast<int32_t>(next()) >> 8) * (1.0f / 8388608.0f); }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>((static_cast<uint64_t>(next()) * n) >> 32); }
};

// Noise with a slow square-wave level change and occasional silent stretches:
// exercises the filters' transients, the clipper's negative side and the
// zero-input path.
inline std::vector<float> test_signal(uint32_t n, uint32_t seed, float level = 1.0f) {
    Lcg rng(seed);
    std::vector<float> s(n);
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t phase = (i / 3000) % 8;
        float v = rng.noise() * level;
        if (phase == 3) v *= 6.0f;        // loud enough to hit the soft clipper hard
        if (phase == 6) v = 0.0f;         // silence
        if (phase == 1) v += (i % 200 < 100) ? 0.5f : -0.5f;  // square wave, DC steps
        s[i] = v;
    }
    return s;
}

inline bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Index of the first sample whose bits differ, or -1.
inline long first_difference(const std::vector<float>& a, const std::vector<float>& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return static_cast<long>(i);
    return a.size() == b.size() ? -1 : static_cast<long>(a.size() < b.size() ? a.size() : b.size());
}

// FNV-1a over the bytes of a float buffer.
inline uint64_t fnv1a(const float* data, size_t count, uint64_t h = 1469598103934665603ull) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    for (size_t i = 0; i < count * sizeof(float); ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace vexo_test
