// StateMap as an AVL tree with parent links, and the map file codec.
#include "state_map.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "state_alloc.h"

namespace vexo {

struct StateEntry {
    size_t key_len;
    size_t value_len;
    const void* key;
    const void* value;
};

struct StateNode {
    StateNode* parent;
    StateNode* left;
    StateNode* right;
    int height;  // a leaf has height 1
    StateEntry* entry;
};

using StateCompare = int (*)(const void* a, size_t a_len, const void* b, size_t b_len);

struct StateMap {
    StateNode* root;
    StateCompare compare;
};

namespace {

// Bytewise over the shorter length as strncmp does (a zero byte in both keys
// at the same place ends the comparison as equal), then the shorter key
// first.
int compare_keys(const void* a, size_t a_len, const void* b, size_t b_len) {
    const unsigned char* x = static_cast<const unsigned char*>(a);
    const unsigned char* y = static_cast<const unsigned char*>(b);
    size_t n = a_len < b_len ? a_len : b_len;
    for (size_t i = 0; i < n; ++i) {
        if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
        if (x[i] == 0) break;
    }
    if (a_len == b_len) return 0;
    return a_len < b_len ? -1 : 1;
}

int height(const StateNode* n) { return n ? n->height : 0; }

void update_height(StateNode* n) {
    int l = height(n->left), r = height(n->right);
    n->height = 1 + (l > r ? l : r);
}

// Puts `child` where `old` hung from old's parent (or at the root).
void replace_child(StateMap* map, StateNode* old, StateNode* child) {
    StateNode* parent = old->parent;
    child->parent = parent;
    if (!parent) {
        map->root = child;
    } else if (parent->left == old) {
        parent->left = child;
    } else {
        parent->right = child;
    }
}

StateNode* rotate_left(StateMap* map, StateNode* x) {
    StateNode* y = x->right;
    replace_child(map, x, y);
    x->right = y->left;
    if (x->right) x->right->parent = x;
    y->left = x;
    x->parent = y;
    update_height(x);
    update_height(y);
    return y;
}

StateNode* rotate_right(StateMap* map, StateNode* x) {
    StateNode* y = x->left;
    replace_child(map, x, y);
    x->left = y->right;
    if (x->left) x->left->parent = x;
    y->right = x;
    x->parent = y;
    update_height(x);
    update_height(y);
    return y;
}

// From `n` up to the root: rotate where the two subtrees differ by two,
// otherwise refresh the height.
void rebalance(StateMap* map, StateNode* n) {
    while (n) {
        int l = height(n->left), r = height(n->right);
        if (l - r == 2) {
            StateNode* c = n->left;
            if (height(c->left) <= height(c->right)) rotate_left(map, c);
            n = rotate_right(map, n);
        } else if (r - l == 2) {
            StateNode* c = n->right;
            if (height(c->right) <= height(c->left)) rotate_right(map, c);
            n = rotate_left(map, n);
        } else {
            n->height = 1 + (l > r ? l : r);
        }
        n = n->parent;
    }
}

StateNode* leftmost(StateNode* n) {
    while (n && n->left) n = n->left;
    return n;
}

// In-order successor through the parent links.
StateNode* next_node(StateNode* n) {
    if (n->right) return leftmost(n->right);
    while (n->parent && n->parent->right == n) n = n->parent;
    return n->parent;
}

uint32_t read_u32le(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void write_u32le(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace

StateMap* state_map_new() {
    StateMap* map = static_cast<StateMap*>(state_malloc(sizeof(StateMap)));
    if (!map) return nullptr;
    map->root = nullptr;
    map->compare = compare_keys;
    return map;
}

void state_map_free(StateMap* map) {
    if (!map) return;
    // Post-order through the parent links: no recursion, no allocation.
    StateNode* n = map->root;
    while (n) {
        if (n->left) {
            n = n->left;
        } else if (n->right) {
            n = n->right;
        } else {
            StateNode* parent = n->parent;
            if (parent) {
                if (parent->left == n) {
                    parent->left = nullptr;
                } else {
                    parent->right = nullptr;
                }
            }
            state_free(n->entry);
            state_free(n);
            n = parent;
        }
    }
    state_free(map);
}

int state_map_add(StateMap* map, const void* key, size_t key_len, const void* value, size_t value_len) {
    StateEntry* entry = static_cast<StateEntry*>(state_malloc(sizeof(StateEntry)));
    StateNode* node = static_cast<StateNode*>(state_malloc(sizeof(StateNode)));
    if (!entry || !node) {
        state_free(entry);
        state_free(node);
        return -1;
    }
    *entry = StateEntry{key_len, value_len, key, value};
    *node = StateNode{nullptr, nullptr, nullptr, 1, entry};

    if (!map->root) {
        map->root = node;
        return 0;
    }
    StateNode* at = map->root;
    for (;;) {
        int c = map->compare(key, key_len, at->entry->key, at->entry->key_len);
        if (c == 0) {
            // An equal key goes immediately before the one already present.
            if (!at->left) {
                at->left = node;
            } else {
                at = at->left;
                while (at->right) at = at->right;
                at->right = node;
            }
            break;
        }
        StateNode*& side = c < 0 ? at->left : at->right;
        if (!side) {
            side = node;
            break;
        }
        at = side;
    }
    node->parent = at;
    rebalance(map, at);
    return 0;
}

const void* state_map_get(const StateMap* map, const void* key, size_t key_len, size_t* value_len) {
    const StateNode* n = map->root;
    while (n) {
        int c = map->compare(key, key_len, n->entry->key, n->entry->key_len);
        if (c == 0) {
            *value_len = n->entry->value_len;
            return n->entry->value;
        }
        n = c < 0 ? n->left : n->right;
    }
    return nullptr;
}

int state_map_for_each(const StateMap* map, StateMapVisitor visitor, void* user) {
    for (StateNode* n = leftmost(map->root); n; n = next_node(n)) {
        const StateEntry* e = n->entry;
        int r = visitor(e->key, e->key_len, e->value, e->value_len, user);
        if (r != 0) return r;
    }
    return 0;
}

void* state_map_encode(const StateMap* map, size_t* out_len) {
    unsigned char* out = nullptr;
    size_t len = 0;
    for (StateNode* n = leftmost(map->root); n; n = next_node(n)) {
        const StateEntry* e = n->entry;
        if (e->key_len > UINT32_MAX || e->value_len > UINT32_MAX || e->key_len + e->value_len > SIZE_MAX - 8 - len) {
            state_free(out);
            return nullptr;
        }
        size_t grown = len + 8 + e->key_len + e->value_len;
        unsigned char* bigger = static_cast<unsigned char*>(state_realloc(out, grown));
        if (!bigger) {
            state_free(out);
            return nullptr;
        }
        out = bigger;
        write_u32le(out + len, static_cast<uint32_t>(e->key_len));
        write_u32le(out + len + 4, static_cast<uint32_t>(e->value_len));
        if (e->key_len) std::memcpy(out + len + 8, e->key, e->key_len);
        if (e->value_len) std::memcpy(out + len + 8 + e->key_len, e->value, e->value_len);
        len = grown;
    }
    if (out) *out_len = len;
    return out;
}

StateMap* state_map_decode(const void* bytes, size_t len) {
    StateMap* map = state_map_new();
    if (!map) {
        errno = ENOMEM;
        return nullptr;
    }
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    size_t pos = 0;
    while (pos < len) {
        size_t left = len - pos;
        // The record's head, key and value must all lie inside the input.
        if (left < 8) goto malformed;
        {
            size_t k = read_u32le(p + pos);
            size_t v = read_u32le(p + pos + 4);
            if (k == 0 || k > left - 8 || v > left - 8 - k) goto malformed;
            if (state_map_add(map, p + pos + 8, k, p + pos + 8 + k, v) != 0) {
                state_map_free(map);
                errno = ENOMEM;
                return nullptr;
            }
            pos += 8 + k + v;
        }
    }
    return map;
malformed:
    state_map_free(map);
    errno = EINVAL;
    return nullptr;
}

}  // namespace vexo
