// State archive tests: the map container and its file format, the tar
// container, the state document, decoders that never trust their input, and
// clean failure when memory runs out at any allocation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "failing_heap.h"
#include "platform/platform.h"
#include "state/state_alloc.h"
#include "state/state_archive.h"
#include "state/state_map.h"
#include "state/tar.h"

using namespace vexo;
using vexo_test::FailingHeap;

namespace {

using Bytes = std::vector<unsigned char>;
using Members = std::vector<std::pair<std::string, Bytes>>;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes bytes_of(float f) {
    Bytes b(4);
    std::memcpy(b.data(), &f, 4);
    return b;
}
Bytes bytes_of(int32_t v) {
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

// Takes ownership of a block from an encoder.
Bytes take(void* block, size_t len) {
    Bytes b;
    if (block) b.assign(static_cast<unsigned char*>(block), static_cast<unsigned char*>(block) + len);
    state_free(block);
    return b;
}

// Runs an encoder that reports its length through a pointer.
template <typename Encoder>
Bytes take_encoded(Encoder encode) {
    size_t len = 0;
    void* block = encode(&len);
    return take(block, len);
}

struct Entry {
    std::string key, value;
    bool operator==(const Entry&) const = default;
};

std::vector<Entry> entries(const StateMap* map) {
    std::vector<Entry> out;
    state_map_for_each(
        map,
        [](const void* k, size_t kl, const void* v, size_t vl, void* user) {
            static_cast<std::vector<Entry>*>(user)->push_back(
                {std::string(static_cast<const char*>(k), kl), std::string(static_cast<const char*>(v), vl)});
            return 0;
        },
        &out);
    return out;
}

StateMap* map_of(const Members& members) {
    StateMap* m = state_map_new();
    for (const auto& [name, content] : members) state_map_add(m, name.data(), name.size(), content.data(), content.size());
    return m;
}

Bytes encode_map(const Members& members) {
    StateMap* m = map_of(members);
    Bytes out = take_encoded([&](size_t* n) { return state_map_encode(m, n); });
    state_map_free(m);
    return out;
}

Bytes encode_tar(const Members& members) {
    StateMap* m = map_of(members);
    size_t len = 0;
    void* p = tar_encode(m, &len);
    Bytes out = take(p, len);
    state_map_free(m);
    return out;
}

// The parts of a state document, each replaceable by a test.
struct Doc {
    Members info = {{"id", bytes_of(std::string("brume-vexo"))},
                    {"version_major", bytes_of(int32_t(1))},
                    {"format", bytes_of(std::string("lv2"))},
                    {"sample_rate", bytes_of(48000.0f)}};
    Members parameters = {{"cutoff", bytes_of(3.0f)}, {"lfo_amt", bytes_of(9.0f)}, {"lfo_speed", bytes_of(12.0f)}};
    Bytes version = bytes_of(std::string("1.0"));
    bool with_version = true;
    Members inner_extras, outer_extras;

    Bytes build() const {
        Members inner = inner_extras;
        inner.push_back({"info.map", encode_map(info)});
        inner.push_back({"parameters.map", encode_map(parameters)});
        if (with_version) inner.push_back({"version", version});
        Members outer = outer_extras;
        outer.push_back({"dsp.tar", encode_tar(inner)});
        return encode_tar(outer);
    }
};

struct RecordingSink {
    int locks = 0, unlocks = 0;
    std::vector<std::pair<uint32_t, float>> stores;
    StateSink sink() {
        return StateSink{this, [](void* d) { ++static_cast<RecordingSink*>(d)->locks; },
                         [](void* d) { ++static_cast<RecordingSink*>(d)->unlocks; },
                         [](void* d, uint32_t i, float v) { static_cast<RecordingSink*>(d)->stores.push_back({i, v}); }};
    }
};

// Every test starts and ends with no live state blocks.
class StateTest : public ::testing::Test {
protected:
    void SetUp() override {
        FailingHeap::reset();
        live_at_start = FailingHeap::live();
    }
    void TearDown() override {
        FailingHeap::reset();
        EXPECT_EQ(FailingHeap::live(), live_at_start) << "state blocks leaked";
    }
    long live_at_start = 0;
};

// ---------------------------------------------------------------------------
// StateMap

using StateMapTest = StateTest;

TEST_F(StateMapTest, WalksInKeyOrderWhateverTheInsertionOrder) {
    std::vector<std::string> keys = {"lfo_speed", "cutoff", "lfo_amt"};
    std::sort(keys.begin(), keys.end());
    do {
        StateMap* m = state_map_new();
        for (const auto& k : keys) ASSERT_EQ(state_map_add(m, k.data(), k.size(), "", 0), 0);
        std::vector<Entry> got = entries(m);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0].key, "cutoff");
        EXPECT_EQ(got[1].key, "lfo_amt");
        EXPECT_EQ(got[2].key, "lfo_speed");
        state_map_free(m);
    } while (std::next_permutation(keys.begin(), keys.end()));
}

TEST_F(StateMapTest, KeyOrder) {
    struct { std::string a, b; } less[] = {
        {"ab", "abc"}, {"abc", "abd"}, {"", "a"}, {"a\x7f", "a\x80"}, {"Z", "a"}, {std::string("a\0", 2), "a\x01"},
    };
    for (const auto& c : less) {
        StateMap* m = state_map_new();
        state_map_add(m, c.b.data(), c.b.size(), "b", 1);
        state_map_add(m, c.a.data(), c.a.size(), "a", 1);
        std::vector<Entry> got = entries(m);
        EXPECT_EQ(got[0].value, "a") << c.a << " < " << c.b;
        state_map_free(m);
    }
    // A zero byte in both keys at the same place ends the comparison: these
    // two keys of equal length count as equal.
    StateMap* m = state_map_new();
    state_map_add(m, "k\0x", 3, "1", 1);
    size_t len = 0;
    EXPECT_NE(state_map_get(m, "k\0y", 3, &len), nullptr);
    state_map_free(m);
}

TEST_F(StateMapTest, DuplicatesKeepBothAndTheNewerComesFirst) {
    StateMap* m = state_map_new();
    state_map_add(m, "b", 1, "x", 1);
    state_map_add(m, "k", 1, "first", 5);
    state_map_add(m, "a", 1, "y", 1);
    state_map_add(m, "k", 1, "second", 6);
    state_map_add(m, "k", 1, "third", 5);
    std::vector<Entry> got = entries(m);
    // Each new entry goes immediately before the equal entry met on the way
    // down from the root: "second" before "first", then "third" before
    // "first" again (and so after "second").
    std::vector<Entry> expected = {{"a", "y"}, {"b", "x"}, {"k", "second"}, {"k", "third"}, {"k", "first"}};
    EXPECT_EQ(got, expected);
    Bytes file = take_encoded([&](size_t* n) { return state_map_encode(m, n); });
    EXPECT_EQ(file.size(), 10u + 10 + 14 + 15 + 14);
    state_map_free(m);
}

TEST_F(StateMapTest, ManyKeysStayOrderedAndFindable) {
    // Ascending, descending and scattered insertions exercise every rotation.
    for (int pattern = 0; pattern < 3; ++pattern) {
        std::vector<std::string> keys;
        for (int i = 0; i < 2000; ++i) {
            int k = pattern == 0 ? i : pattern == 1 ? 1999 - i : (i * 7919) % 2000;
            char buf[16];
            std::snprintf(buf, sizeof buf, "key%05d", k);
            keys.push_back(buf);
        }
        StateMap* m = state_map_new();
        for (const auto& k : keys) ASSERT_EQ(state_map_add(m, k.data(), k.size(), k.data(), k.size()), 0);
        std::vector<Entry> got = entries(m);
        ASSERT_EQ(got.size(), keys.size());
        for (size_t i = 1; i < got.size(); ++i) ASSERT_LT(got[i - 1].key, got[i].key);
        for (const auto& k : keys) {
            size_t len = 0;
            const void* v = state_map_get(m, k.data(), k.size(), &len);
            ASSERT_NE(v, nullptr);
            ASSERT_EQ(std::string(static_cast<const char*>(v), len), k);
        }
        state_map_free(m);
    }
}

TEST_F(StateMapTest, GetAndWalk) {
    StateMap* m = state_map_new();
    state_map_add(m, "b", 1, "2", 1);
    state_map_add(m, "a", 1, "1", 1);
    state_map_add(m, "c", 1, "3", 1);
    size_t len = 12345;
    EXPECT_EQ(state_map_get(m, "d", 1, &len), nullptr);
    EXPECT_EQ(len, 12345u);  // untouched when absent
    EXPECT_EQ(state_map_get(m, "", 0, &len), nullptr);
    int visits = 0;
    int r = state_map_for_each(
        m, [](const void*, size_t, const void*, size_t, void* u) { return ++*static_cast<int*>(u) == 2 ? -1 : 0; },
        &visits);
    EXPECT_EQ(r, -1);
    EXPECT_EQ(visits, 2);
    state_map_free(m);
}

TEST_F(StateMapTest, FileFormat) {
    Bytes one = encode_map({{"cutoff", bytes_of(1.0f)}});
    Bytes expected = {6, 0, 0, 0, 4, 0, 0, 0, 'c', 'u', 't', 'o', 'f', 'f', 0x00, 0x00, 0x80, 0x3f};
    EXPECT_EQ(one, expected);
    EXPECT_EQ(encode_map({{"key", Bytes()}}).size(), 11u);  // an empty value is 8 + K bytes

    StateMap* empty = state_map_new();
    size_t len = 777;
    EXPECT_EQ(state_map_encode(empty, &len), nullptr);
    state_map_free(empty);

    StateMap* none = state_map_decode(nullptr, 0);
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(entries(none).empty());
    state_map_free(none);

    Bytes file = encode_map({{"lfo_amt", bytes_of(2.0f)}, {"cutoff", bytes_of(1.0f)}, {"x", Bytes()}});
    StateMap* back = state_map_decode(file.data(), file.size());
    ASSERT_NE(back, nullptr);
    std::vector<Entry> got = entries(back);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].key, "cutoff");
    EXPECT_EQ(got[2].key, "x");
    EXPECT_EQ(got[2].value, "");
    state_map_free(back);
}

TEST_F(StateMapTest, DecoderRejectsMalformedAndTruncatedRecords) {
    const Bytes good = encode_map({{"cutoff", bytes_of(1.0f)}});
    struct Case {
        const char* name;
        Bytes input;
    };
    std::vector<Case> cases = {
        {"zero key length after a good record", [&] { Bytes b = good; b.insert(b.end(), {0, 0, 0, 0, 0, 0, 0, 0}); return b; }()},
        {"head cut short", [&] { Bytes b = good; b.insert(b.end(), {1, 0, 0}); return b; }()},
        {"key past the end", Bytes{9, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'}},
        {"value past the end", Bytes{1, 0, 0, 0, 5, 0, 0, 0, 'a', 1, 2}},
        {"huge key length", Bytes{0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 'a'}},
        {"huge value length", Bytes{1, 0, 0, 0, 0xff, 0xff, 0xff, 0xff, 'a'}},
    };
    // Every strict prefix of a good record is truncated too.
    for (size_t n = 1; n < good.size(); ++n) cases.push_back({"prefix", Bytes(good.begin(), good.begin() + n)});
    for (const Case& c : cases) {
        // An exact-size heap copy, so that the sanitizer build sees any read
        // past the end.
        std::vector<unsigned char> exact(c.input);
        errno = 0;
        EXPECT_EQ(state_map_decode(exact.data(), exact.size()), nullptr) << c.name;
        EXPECT_EQ(errno, EINVAL) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Tar container

using TarTest = StateTest;

TEST_F(TarTest, EmptySetIsTwoZeroBlocks) {
    Bytes empty = encode_tar({});
    EXPECT_EQ(empty, Bytes(1024, 0));
    for (size_t len : {size_t(1024), size_t(0)}) {
        StateMap* m = tar_decode(empty.data(), len);
        ASSERT_NE(m, nullptr);
        EXPECT_TRUE(entries(m).empty());
        state_map_free(m);
    }
}

TEST_F(TarTest, VersionMemberHeaderBytes) {
    Bytes t = encode_tar({{"version", bytes_of(std::string("1.0"))}});
    ASSERT_EQ(t.size(), 2048u);
    auto field = [&](size_t off, size_t n) { return std::string(reinterpret_cast<const char*>(t.data()) + off, n); };
    EXPECT_EQ(field(0, 8), std::string("version\0", 8));
    EXPECT_EQ(field(100, 8), std::string("0000644\0", 8));
    EXPECT_EQ(field(108, 8), std::string("0000000\0", 8));
    EXPECT_EQ(field(116, 8), std::string("0000000\0", 8));
    EXPECT_EQ(field(124, 12), std::string("00000000003\0", 12));
    EXPECT_EQ(field(136, 12), std::string("00000000000\0", 12));
    EXPECT_EQ(field(148, 8), std::string("07346\0\0 ", 8));
    EXPECT_EQ(field(156, 1), "0");
    EXPECT_EQ(field(257, 8), std::string("ustar\0" "00", 8));
    EXPECT_EQ(field(512, 4), std::string("1.0\0", 4));
    EXPECT_TRUE(std::all_of(t.begin() + 1024, t.end(), [](unsigned char c) { return c == 0; }));
    // The checksum is the sum of the header bytes with spaces in its field.
    unsigned sum = 0;
    for (size_t i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : t[i];
    EXPECT_EQ(sum, 07346u);
}

TEST_F(TarTest, SizesAndBlocks) {
    struct { size_t content; size_t stream; } cases[] = {{0, 1536}, {1, 2048}, {512, 2048}, {513, 2560}, {5000, 6656}};
    for (auto c : cases) {
        Bytes t = encode_tar({{"m", Bytes(c.content, 'x')}});
        EXPECT_EQ(t.size(), c.stream) << c.content;
        StateMap* m = tar_decode(t.data(), t.size());
        ASSERT_NE(m, nullptr);
        std::vector<Entry> got = entries(m);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].value, std::string(c.content, 'x'));
        state_map_free(m);
    }
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(encode_tar({{"m", Bytes()}}).data()) + 124, 12),
              std::string("00000000000\0", 12));
}

TEST_F(TarTest, NamesAndOrder) {
    std::string n99(99, 'n');
    Bytes t = encode_tar({{"zeta", bytes_of(std::string("z"))}, {n99, Bytes()}, {"alpha", bytes_of(std::string("a"))}});
    ASSERT_FALSE(t.empty());
    StateMap* m = tar_decode(t.data(), t.size());
    std::vector<Entry> got = entries(m);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].key, "alpha");
    EXPECT_EQ(got[1].key, n99);
    EXPECT_EQ(got[2].key, "zeta");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.data()), 5), "alpha");  // written sorted
    state_map_free(m);

    // A 100-byte name fails the whole stream.
    StateMap* bad = map_of({{"ok", Bytes()}, {std::string(100, 'n'), Bytes()}});
    size_t len = 0;
    EXPECT_EQ(tar_encode(bad, &len), nullptr);
    state_map_free(bad);

    // A 100-byte name without terminator is read whole.
    Bytes raw = encode_tar({{std::string(99, 'q'), Bytes()}});
    raw[99] = 'q';
    StateMap* long_name = tar_decode(raw.data(), raw.size());
    ASSERT_NE(long_name, nullptr);
    EXPECT_EQ(entries(long_name)[0].key, std::string(100, 'q'));
    state_map_free(long_name);

    // An empty name starts its header with a zero byte: the reader takes it
    // for the end of the archive.
    Bytes hidden = encode_tar({{"", Bytes(3, 'x')}, {"after", Bytes()}});
    EXPECT_EQ(hidden.size(), 512u * 2 + 512 + 1024);
    StateMap* none = tar_decode(hidden.data(), hidden.size());
    ASSERT_NE(none, nullptr);
    EXPECT_TRUE(entries(none).empty());
    state_map_free(none);
}

TEST_F(TarTest, ReaderChecksOnlyTheSizeField) {
    const Bytes good = encode_tar({{"version", bytes_of(std::string("1.0"))}});
    struct Case {
        const char* name;
        size_t offset;
        unsigned char byte;
        bool accepted;
    };
    const Case cases[] = {
        {"space for a leading zero", 124, ' ', false},
        {"digit 8", 130, '8', false},
        {"letter", 134, 'a', false},
        {"no terminator", 135, '0', false},
        {"two to the 31", 124, '2', false},  // "20000000003" is above 2^31
        {"wrong checksum", 150, '1', true},
        {"other type flag", 156, '5', true},
        {"no magic", 257, 'x', true},
    };
    for (const Case& c : cases) {
        Bytes t = good;
        t[c.offset] = c.byte;
        errno = 0;
        StateMap* m = tar_decode(t.data(), t.size());
        EXPECT_EQ(m != nullptr, c.accepted) << c.name;
        if (!c.accepted) {
            EXPECT_EQ(errno, EINVAL) << c.name;
        }
        state_map_free(m);
    }
}

TEST_F(TarTest, ReaderNeverReadsPastItsInput) {
    const Bytes good = encode_tar({{"a", Bytes(700, 'a')}, {"b", Bytes(3, 'b')}});
    // Cut anywhere: either the cut falls in padding or the end marker and the
    // members read so far come back whole, or the stream is refused.
    for (size_t n = 0; n <= good.size(); ++n) {
        std::vector<unsigned char> exact(good.begin(), good.begin() + n);
        errno = 0;
        StateMap* m = tar_decode(exact.data(), exact.size());
        bool header_cut = n % 512 != 0 && (n < 512 || (n > 1536 && n < 2048));
        bool content_cut = (n >= 512 && n < 512 + 700) || (n >= 2048 && n < 2048 + 3);
        if (header_cut || content_cut) {
            EXPECT_EQ(m, nullptr) << n;
            EXPECT_EQ(errno, EINVAL) << n;
        } else {
            ASSERT_NE(m, nullptr) << n;
            for (const Entry& e : entries(m)) EXPECT_EQ(e.value, std::string(e.key == "a" ? 700 : 3, e.key[0]));
        }
        state_map_free(m);
    }
}

// ---------------------------------------------------------------------------
// State document

using DocumentTest = StateTest;

Bytes plugin_state(const char* format, float c = 15, float a = 0, float s = 7, float rate = 48000) {
    size_t len = 0;
    void* p = plugin_state_encode(format, std::strlen(format), rate, c, a, s, &len);
    return take(p, len);
}

TEST_F(DocumentTest, SavedStateLayout) {
    for (const char* format : {"lv2", "vst3"}) {
        SCOPED_TRACE(format);
        Bytes st = plugin_state(format, 4, 11, 2, 44100);
        ASSERT_EQ(st.size(), 5632u);
        StateMap* outer = tar_decode(st.data(), st.size());
        std::vector<Entry> members = entries(outer);
        ASSERT_EQ(members.size(), 1u);
        EXPECT_EQ(members[0].key, "dsp.tar");
        EXPECT_EQ(members[0].value.size(), 4096u);
        StateMap* inner = tar_decode(members[0].value.data(), 4096);
        std::vector<Entry> inner_members = entries(inner);
        ASSERT_EQ(inner_members.size(), 3u);
        EXPECT_EQ(inner_members[0].key, "info.map");
        EXPECT_EQ(inner_members[1].key, "parameters.map");
        EXPECT_EQ(inner_members[2].key, "version");
        EXPECT_EQ(inner_members[2].value, "1.0");
        const std::string platform = platform_name();
        EXPECT_EQ(inner_members[0].value.size(), 186u + (std::strlen(format) - 3) + (platform.size() - 7));
        EXPECT_EQ(inner_members[1].value.size(), 58u);

        StateMap* info = state_map_decode(inner_members[0].value.data(), inner_members[0].value.size());
        auto as_text = [](const Bytes& b) { return std::string(b.begin(), b.end()); };
        std::vector<Entry> expected = {
            {"format", format},
            {"id", "brume-vexo"},
            {"platform", platform},
            {"sample_rate", as_text(bytes_of(44100.0f))},
            {"version_build", as_text(bytes_of(int32_t(1)))},
            {"version_major", as_text(bytes_of(int32_t(1)))},
            {"version_minor", as_text(bytes_of(int32_t(2)))},
            {"version_revision", as_text(bytes_of(int32_t(5)))},
        };
        EXPECT_EQ(entries(info), expected);
        StateMap* params = state_map_decode(inner_members[1].value.data(), inner_members[1].value.size());
        std::vector<Entry> expected_params = {
            {"cutoff", as_text(bytes_of(4.0f))}, {"lfo_amt", as_text(bytes_of(11.0f))}, {"lfo_speed", as_text(bytes_of(2.0f))}};
        EXPECT_EQ(entries(params), expected_params);
        state_map_free(params);
        state_map_free(info);
        state_map_free(inner);
        state_map_free(outer);
    }
}

TEST_F(DocumentTest, LoadAppliesAllThreeUnderOneLock) {
    Bytes st = plugin_state("vst3", 3, 9, 12);
    RecordingSink rec;
    StateSink sink = rec.sink();
    ASSERT_EQ(plugin_state_load(st.data(), st.size(), &sink), 0);
    EXPECT_EQ(rec.locks, 1);
    EXPECT_EQ(rec.unlocks, 1);
    std::vector<std::pair<uint32_t, float>> expected = {{0, 3.0f}, {1, 9.0f}, {2, 12.0f}};
    EXPECT_EQ(rec.stores, expected);
}

TEST_F(DocumentTest, VersionAcceptance) {
    struct { const char* name; std::string text; bool accepted; } cases[] = {
        {"exact", "1.0", true},
        {"line feed", "1.0\n", true},
        {"white space", "1.0 \t\r\n\v\f", true},
        {"minor 1", "1.1", false},
        {"trailing letter", "1.0x", false},
        {"trailing digit", "1.01", false},
        {"two bytes", "1.", false},
        {"empty", "", false},
        {"zero byte after", std::string("1.0\0", 4), false},
        {"leading space", " 1.0", false},
    };
    for (const auto& c : cases) {
        Doc d;
        d.version = bytes_of(c.text);
        Bytes st = d.build();
        RecordingSink rec;
        StateSink sink = rec.sink();
        errno = 0;
        EXPECT_EQ(plugin_state_load(st.data(), st.size(), &sink), c.accepted ? 0 : -1) << c.name;
        if (!c.accepted) {
            EXPECT_EQ(errno, EINVAL) << c.name;
            EXPECT_TRUE(rec.stores.empty()) << c.name;
        }
    }
    Doc no_version;
    no_version.with_version = false;
    Bytes st = no_version.build();
    StateArchive archive;
    EXPECT_EQ(state_archive_decode(&archive, st.data(), st.size()), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST_F(DocumentTest, ContentChecksBeforeAnythingIsApplied) {
    struct Case {
        const char* name;
        void (*edit)(Doc&);
        bool accepted;
    };
    const Case cases[] = {
        {"as written", [](Doc&) {}, true},
        {"id of 11 bytes", [](Doc& d) { d.info[0].second = bytes_of(std::string("brume-vexoX")); }, false},
        {"other id", [](Doc& d) { d.info[0].second = bytes_of(std::string("brume-vexa")); }, false},
        {"no id", [](Doc& d) { d.info.erase(d.info.begin()); }, false},
        {"double value", [](Doc& d) { d.parameters[1].second = Bytes(8, 0); }, false},
        {"NaN value", [](Doc& d) { d.parameters[0].second = bytes_of(std::numeric_limits<float>::quiet_NaN()); }, false},
        {"no lfo_speed", [](Doc& d) { d.parameters.pop_back(); }, false},
        {"infinite value", [](Doc& d) { d.parameters[2].second = bytes_of(std::numeric_limits<float>::infinity()); }, true},
        {"extra info and another rate",
         [](Doc& d) {
             d.info.push_back({"colour", bytes_of(std::string("blue"))});
             d.info[3].second = bytes_of(96000.0f);
         },
         true},
        {"extra parameter", [](Doc& d) { d.parameters.push_back({"resonance", bytes_of(1.0f)}); }, true},
    };
    for (const Case& c : cases) {
        Doc d;
        c.edit(d);
        Bytes st = d.build();
        RecordingSink rec;
        StateSink sink = rec.sink();
        EXPECT_EQ(plugin_state_load(st.data(), st.size(), &sink), c.accepted ? 0 : -1) << c.name;
        EXPECT_EQ(rec.stores.size(), c.accepted ? 3u : 0u) << c.name;
        EXPECT_EQ(rec.locks, c.accepted ? 1 : 0) << c.name;
    }
}

TEST_F(DocumentTest, MalformedStreamsAreRefused) {
    const Bytes good = plugin_state("lv2");
    struct Case {
        const char* name;
        Bytes stream;
    };
    std::vector<Case> cases = {
        {"no dsp.tar", encode_tar({{"other.tar", encode_tar({})}})},
        {"dsp.tar not a tar", encode_tar({{"dsp.tar", bytes_of(std::string("hello"))}})},
        {"no info.map", encode_tar({{"dsp.tar", encode_tar({{"version", bytes_of(std::string("1.0"))},
                                                            {"parameters.map", encode_map({{"x", Bytes()}})}})}})},
        {"info.map with a zero key length", [] {
             Doc d;
             Members inner = {{"info.map", Bytes(8, 0)}, {"parameters.map", encode_map(d.parameters)},
                              {"version", d.version}};
             return encode_tar({{"dsp.tar", encode_tar(inner)}});
         }()},
        {"random bytes", Bytes(3000, 0x37)},
    };
    // Cut anywhere before the end of "dsp.tar"'s content (a cut in the end
    // marker loses nothing and is accepted).
    for (size_t n = 1; n < 512 + 4096; n += 61) cases.push_back({"truncated", Bytes(good.begin(), good.begin() + n)});
    for (const Case& c : cases) {
        std::vector<unsigned char> exact(c.stream);
        RecordingSink rec;
        StateSink sink = rec.sink();
        EXPECT_EQ(plugin_state_load(exact.data(), exact.size(), &sink), -1) << c.name;
        EXPECT_TRUE(rec.stores.empty()) << c.name;
        StateArchive archive;
        errno = 0;
        EXPECT_EQ(state_archive_decode(&archive, exact.data(), exact.size()), -1) << c.name;
        EXPECT_EQ(errno, EINVAL) << c.name;
    }
}

TEST_F(DocumentTest, ForeignMembersSurviveARoundTrip) {
    Doc d;
    d.outer_extras = {{"aaa.txt", bytes_of(std::string("outer first"))}, {"zzz.bin", Bytes(600, 7)}};
    d.inner_extras = {{"extra.map", encode_map({{"k", bytes_of(std::string("v"))}})}};
    const Bytes original = d.build();
    StateArchive archive;
    ASSERT_EQ(state_archive_decode(&archive, original.data(), original.size()), 0);
    EXPECT_EQ(entries(archive.outer_extras).size(), 2u);
    EXPECT_EQ(entries(archive.inner_extras).size(), 1u);
    Bytes again = take_encoded([&](size_t* n) { return state_archive_encode(&archive, n); });
    state_archive_free(&archive);
    // Written by the same writer with the same members: the same bytes.
    EXPECT_EQ(again, original);
}

// ---------------------------------------------------------------------------
// Out of memory: fail each allocation in turn; every failure must be clean.

TEST_F(DocumentTest, EveryAllocationFailureIsClean) {
    const Bytes good = [] {
        Doc d;
        d.outer_extras = {{"foreign", Bytes(10, 1)}};
        d.inner_extras = {{"inner.foreign", Bytes(10, 2)}};
        return d.build();
    }();

    struct Operation {
        const char* name;
        bool (*run)(const Bytes& good);  // true on success
    };
    const Operation ops[] = {
        {"plugin_state_encode",
         [](const Bytes&) {
             size_t len = 0;
             void* p = plugin_state_encode("lv2", 3, 48000, 1, 2, 3, &len);
             state_free(p);
             return p != nullptr;
         }},
        {"plugin_state_load",
         [](const Bytes& g) {
             RecordingSink rec;
             StateSink sink = rec.sink();
             errno = 0;
             int r = plugin_state_load(g.data(), g.size(), &sink);
             if (r != 0) {
                 EXPECT_TRUE(rec.stores.empty());
             }
             return r == 0;
         }},
        {"state_archive_decode and encode",
         [](const Bytes& g) {
             StateArchive a;
             errno = 0;
             if (state_archive_decode(&a, g.data(), g.size()) != 0) {
                 EXPECT_EQ(errno, ENOMEM);
                 return false;
             }
             size_t len = 0;
             void* p = state_archive_encode(&a, &len);
             state_archive_free(&a);
             state_free(p);
             return p != nullptr;
         }},
        {"tar_decode",
         [](const Bytes& g) {
             errno = 0;
             StateMap* m = tar_decode(g.data(), g.size());
             if (!m) {
                 EXPECT_EQ(errno, ENOMEM);
             }
             state_map_free(m);
             return m != nullptr;
         }},
    };
    for (const Operation& op : ops) {
        size_t k = 1;
        for (; k < 500; ++k) {
            FailingHeap::fail_at(k);
            bool ok = op.run(good);
            size_t attempted = FailingHeap::allocations();
            FailingHeap::reset();
            ASSERT_EQ(FailingHeap::live(), live_at_start) << op.name << " leaked when allocation " << k << " failed";
            if (attempted < k) {
                EXPECT_TRUE(ok) << op.name << " failed without any allocation failing";
                break;
            }
            EXPECT_FALSE(ok) << op.name << " reported success although allocation " << k << " failed";
        }
        EXPECT_GT(k, 5u) << op.name;  // the operation does allocate
        EXPECT_LT(k, 500u) << op.name;
    }
}

}  // namespace
