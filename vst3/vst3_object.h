// How the plug-in's VST3 objects implement FUnknown. Each object is one heap
// block whose first members point to its interface tables; the pointer
// handed to the host for an interface is the address of that member. The
// thunks below turn such a pointer back into the object and call the
// object's own query and release (found by overload on the object's type),
// so every table of an object shares one lookup and one reference count.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vst3_abi.h"

namespace vexo {

template <typename Object, size_t Offset>
struct InterfaceOf {
    static Object* object(void* iface) { return reinterpret_cast<Object*>(static_cast<char*>(iface) - Offset); }
    static vst3::tresult query(void* iface, const uint8_t* iid, void** obj) { return object_query(object(iface), iid, obj); }
    static uint32_t add_ref(void* iface) { return object(iface)->ref_count.fetch_add(1) + 1; }
    static uint32_t release(void* iface) { return object_release(object(iface)); }
};

// The three FUnknown slots of the table that `member` of `Object` points to.
#define VEXO_FUNKNOWN_SLOTS(Object, member)                                 \
    .queryInterface = InterfaceOf<Object, offsetof(Object, member)>::query, \
    .addRef = InterfaceOf<Object, offsetof(Object, member)>::add_ref,       \
    .release = InterfaceOf<Object, offsetof(Object, member)>::release

// IConnectionPoint as both objects implement it: a peer is accepted and
// never used, and no message is sent or read.
vst3::tresult connection_connect(void* self, void* other);
vst3::tresult connection_disconnect(void* self, void* other);
vst3::tresult connection_notify(void* self, void* message);

}  // namespace vexo
