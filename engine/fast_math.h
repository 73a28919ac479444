// Fast approximations of the reciprocal, sine, tangent, log2, exp2 and the
// Wright omega function, built from bit manipulation of 32-bit floats and
// short polynomials. Their errors are part of the sound, so every step is
// evaluated in single precision in exactly the order written here, and the
// packed forms give the same bits as the scalar forms.
//
// Pure functions: no state, no library maths, no division. Safe on the audio
// thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <emmintrin.h>

namespace vexo {

inline uint32_t float_bits(float x) {
    uint32_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

inline float bits_float(uint32_t b) {
    float x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

// Truncation toward zero as the SSE conversion does it: a value outside the
// 32-bit range, or a NaN, gives 0x80000000. Written out so that it is defined
// behaviour in C++ and matches the packed conversion lane for lane.
inline int32_t truncate_to_i32(float x) {
    if (x > -2147483648.0f && x < 2147483648.0f) return static_cast<int32_t>(x);
    return INT32_MIN;
}

// About 1 / x for x > 0; relative error up to about 1.22e-5.
inline float fast_rcp(float x) {
    float y = bits_float(0x7ef0e840u - float_bits(x));
    y = (y + y) - ((x * y) * y);
    y = (y + y) - ((x * y) * y);
    return y;
}

// About sin(2 pi x) for any x; absolute error up to about 0.0108.
inline float fast_sin2pi(float x) {
    // floor(x): truncate, then step down for negative non-integers. Floats of
    // magnitude 2^23 and more are integers already.
    float t = (x > -8388608.0f && x < 8388608.0f) ? static_cast<float>(static_cast<int32_t>(x)) : x;
    if (t > x) t = t - 1.0f;
    float f = x - t;
    float y = (f + f) - 1.0f;
    float ay = y < 0.0f ? -y : y;
    float a = (ay + ay) - 1.0f;
    if (a < 0.0f) a = -a;
    float z = a * -1.5707964f + 1.5707964f;
    float s = (float_bits(-y) & 0x80000000u) ? -1.0f : 1.0f;
    return ((z * -0.11073982f + -0.05738534f) * (z * z) + z) * s;
}

// About tan(2 pi x) for 0 <= x < 0.25.
inline float fast_tan2pi(float x) {
    return fast_sin2pi(x) * fast_rcp(fast_sin2pi(x + 0.25f));
}

// About log2 x for x >= 8; absolute error up to about 0.0053.
inline float fast_log2(float x) {
    uint32_t b = float_bits(x);
    float e = static_cast<float>(static_cast<int32_t>(b) >> 23);
    float m = bits_float((b & 0x7fffffu) | 0x3f800000u);
    return ((m * 0.16404256f + -1.0988653f) * m + 3.148298f) * m + (e + -129.21347f);
}

// About 2^x for x >= -126; relative error up to about 6.1e-4.
inline float fast_exp2(float x) {
    uint32_t i = static_cast<uint32_t>(truncate_to_i32(x));
    if (float_bits(x) & 0x80000000u) i -= 1u;
    float f = x - static_cast<float>(static_cast<int32_t>(i));
    float p = bits_float((i << 23) + 0x3f800000u);
    return ((f * 0.07944154f + 0.22741129f) * f + 0.6931472f) * (f * p) + p;
}

// About the Wright omega function: the w with w + ln w = x.
inline float fast_omega(float x) {
    // Written as "not below 1e9" so that a NaN passes through unchanged, as in
    // the packed form.
    if (!(x < 1e9f)) return x;
    float w0;
    if (x < -3.3414595f) {
        w0 = 0.0f;
    } else if (x < 8.0f) {
        w0 = ((x * -0.0013142931f + 0.047759313f) * x + 0.36319527f) * x + 0.63131833f;
    } else {
        w0 = fast_log2(x) * -0.6931472f + x;
    }
    float d = (x - w0) * 1.442695f;
    float e = d < -126.0f ? 0.0f : fast_exp2(d);
    return w0 - fast_rcp(w0 + 1.0f) * (w0 - e);
}

// ---------------------------------------------------------------------------
// Packed forms, four lanes of SSE2. Every branch is computed and each lane
// selects with the same comparisons as the scalar form, so results are equal
// bit for bit.

inline __m128 select_ps(__m128 mask, __m128 if_set, __m128 if_clear) {
    return _mm_or_ps(_mm_and_ps(mask, if_set), _mm_andnot_ps(mask, if_clear));
}

inline __m128 fast_rcp4(__m128 x) {
    __m128 y = _mm_castsi128_ps(_mm_sub_epi32(_mm_set1_epi32(0x7ef0e840), _mm_castps_si128(x)));
    y = _mm_sub_ps(_mm_add_ps(y, y), _mm_mul_ps(_mm_mul_ps(x, y), y));
    y = _mm_sub_ps(_mm_add_ps(y, y), _mm_mul_ps(_mm_mul_ps(x, y), y));
    return y;
}

inline __m128 fast_log2_4(__m128 x) {
    __m128i b = _mm_castps_si128(x);
    __m128 e = _mm_cvtepi32_ps(_mm_srai_epi32(b, 23));
    __m128 m = _mm_castsi128_ps(
        _mm_or_si128(_mm_and_si128(b, _mm_set1_epi32(0x7fffff)), _mm_set1_epi32(0x3f800000)));
    __m128 r = _mm_add_ps(_mm_mul_ps(m, _mm_set1_ps(0.16404256f)), _mm_set1_ps(-1.0988653f));
    r = _mm_add_ps(_mm_mul_ps(r, m), _mm_set1_ps(3.148298f));
    return _mm_add_ps(_mm_mul_ps(r, m), _mm_add_ps(e, _mm_set1_ps(-129.21347f)));
}

inline __m128 fast_exp2_4(__m128 x) {
    __m128i i = _mm_cvttps_epi32(x);
    i = _mm_add_epi32(i, _mm_srai_epi32(_mm_castps_si128(x), 31));  // -1 where the sign bit is set
    __m128 f = _mm_sub_ps(x, _mm_cvtepi32_ps(i));
    __m128 p = _mm_castsi128_ps(_mm_add_epi32(_mm_slli_epi32(i, 23), _mm_set1_epi32(0x3f800000)));
    __m128 r = _mm_add_ps(_mm_mul_ps(f, _mm_set1_ps(0.07944154f)), _mm_set1_ps(0.22741129f));
    r = _mm_add_ps(_mm_mul_ps(r, f), _mm_set1_ps(0.6931472f));
    return _mm_add_ps(_mm_mul_ps(r, _mm_mul_ps(f, p)), p);
}

inline __m128 fast_omega4(__m128 x) {
    __m128 poly = _mm_add_ps(_mm_mul_ps(x, _mm_set1_ps(-0.0013142931f)), _mm_set1_ps(0.047759313f));
    poly = _mm_add_ps(_mm_mul_ps(poly, x), _mm_set1_ps(0.36319527f));
    poly = _mm_add_ps(_mm_mul_ps(poly, x), _mm_set1_ps(0.63131833f));
    __m128 big = _mm_add_ps(_mm_mul_ps(fast_log2_4(x), _mm_set1_ps(-0.6931472f)), x);
    __m128 w0 = select_ps(_mm_cmplt_ps(x, _mm_set1_ps(8.0f)), poly, big);
    w0 = _mm_andnot_ps(_mm_cmplt_ps(x, _mm_set1_ps(-3.3414595f)), w0);
    __m128 d = _mm_mul_ps(_mm_sub_ps(x, w0), _mm_set1_ps(1.442695f));
    __m128 e = _mm_and_ps(_mm_cmpge_ps(d, _mm_set1_ps(-126.0f)), fast_exp2_4(d));
    __m128 one = _mm_set1_ps(1.0f);
    __m128 w = _mm_sub_ps(w0, _mm_mul_ps(fast_rcp4(_mm_add_ps(w0, one)), _mm_sub_ps(w0, e)));
    return select_ps(_mm_cmplt_ps(x, _mm_set1_ps(1e9f)), w, x);
}

}  // namespace vexo
