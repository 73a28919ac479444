// ustar writer and reader.
//
// A header as written, for the member "version" with the 3 bytes "1.0":
//   0   name      "version" then zeros
//   100 mode      "0000644\0"
//   108 uid, gid  "0000000\0" each
//   124 size      "00000000003\0"
//   136 mtime     "00000000000\0"
//   148 chksum    "07346\0\0 "  (sum of the header bytes with eight spaces here)
//   156 typeflag  "0"
//   257 magic     "ustar\0", version "00"
// followed by one content block holding "1.0" and zeros.
#include "tar.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "state_alloc.h"

namespace vexo {

namespace {

constexpr size_t kBlock = 512;
constexpr size_t kNameField = 100;
constexpr size_t kSizeOffset = 124;
constexpr size_t kChecksumOffset = 148;
constexpr size_t kMaxContent = size_t(1) << 31;

size_t padded(size_t n) { return (n + kBlock - 1) / kBlock * kBlock; }

// Writes v in octal with leading zeros to at least `min_digits` digits, as
// printf's "%0*llo" would; returns the number of digits.
size_t write_octal(unsigned char* dst, uint64_t v, size_t min_digits) {
    unsigned char digits[24];
    size_t n = 0;
    do {
        digits[n++] = static_cast<unsigned char>('0' + (v & 7));
        v >>= 3;
    } while (v);
    while (n < min_digits) digits[n++] = '0';
    for (size_t i = 0; i < n; ++i) dst[i] = digits[n - 1 - i];
    return n;
}

void write_header(unsigned char* h, const void* name, size_t name_len, size_t size) {
    std::memcpy(h, name, name_len);
    std::memcpy(h + 100, "0000644", 8);
    std::memcpy(h + 108, "0000000", 8);
    std::memcpy(h + 116, "0000000", 8);
    write_octal(h + kSizeOffset, size, 11);  // byte 135 stays zero
    std::memcpy(h + 136, "00000000000", 12);
    std::memset(h + kChecksumOffset, ' ', 8);
    h[156] = '0';
    std::memcpy(h + 257, "ustar", 6);
    std::memcpy(h + 263, "00", 2);

    uint64_t sum = 0;
    for (size_t i = 0; i < kBlock; ++i) sum += h[i];
    // Five or six digits, then zeros up to and including byte 154; byte 155
    // keeps its space.
    std::memset(h + kChecksumOffset, 0, 7);
    write_octal(h + kChecksumOffset, sum, 5);
    h[154] = 0;
}

struct Writer {
    unsigned char* out;
    size_t len;
};

int write_member(const void* name, size_t name_len, const void* content, size_t content_len, void* user) {
    Writer* w = static_cast<Writer*>(user);
    if (name_len >= kNameField || content_len >= kMaxContent) return -1;
    size_t grown = w->len + kBlock + padded(content_len);
    unsigned char* bigger = static_cast<unsigned char*>(state_realloc(w->out, grown));
    if (!bigger) return -1;
    w->out = bigger;
    unsigned char* h = w->out + w->len;
    std::memset(h, 0, grown - w->len);
    write_header(h, name, name_len, content_len);
    if (content_len) std::memcpy(h + kBlock, content, content_len);
    w->len = grown;
    return 0;
}

// The size field: eleven octal digits and a zero byte; below 2^31.
bool read_size(const unsigned char* h, size_t* size) {
    uint64_t v = 0;
    for (size_t i = kSizeOffset; i < kSizeOffset + 11; ++i) {
        if (h[i] < '0' || h[i] > '7') return false;
        v = v * 8 + (h[i] - '0');
    }
    if (h[kSizeOffset + 11] != 0 || v >= kMaxContent) return false;
    *size = static_cast<size_t>(v);
    return true;
}

}  // namespace

void* tar_encode(const StateMap* members, size_t* out_len) {
    Writer w{nullptr, 0};
    if (state_map_for_each(members, write_member, &w) != 0) {
        state_free(w.out);
        return nullptr;
    }
    unsigned char* bigger = static_cast<unsigned char*>(state_realloc(w.out, w.len + 2 * kBlock));
    if (!bigger) {
        state_free(w.out);
        return nullptr;
    }
    std::memset(bigger + w.len, 0, 2 * kBlock);
    *out_len = w.len + 2 * kBlock;
    return bigger;
}

StateMap* tar_decode(const void* bytes, size_t len) {
    StateMap* members = state_map_new();
    if (!members) {
        errno = ENOMEM;
        return nullptr;
    }
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    size_t pos = 0;
    while (pos < len && p[pos] != 0) {
        size_t size = 0;
        // The whole header and the member's content must lie inside the
        // input; the padding after the last member may be missing.
        if (len - pos < kBlock || !read_size(p + pos, &size) || size > len - pos - kBlock) {
            state_map_free(members);
            errno = EINVAL;
            return nullptr;
        }
        const void* name = p + pos;
        const void* end = std::memchr(name, 0, kNameField);
        size_t name_len = end ? static_cast<size_t>(static_cast<const unsigned char*>(end) - p - pos) : kNameField;
        if (state_map_add(members, name, name_len, p + pos + kBlock, size) != 0) {
            state_map_free(members);
            errno = ENOMEM;
            return nullptr;
        }
        size_t step = kBlock + padded(size);
        if (step >= len - pos) break;
        pos += step;
    }
    return members;
}

}  // namespace vexo
