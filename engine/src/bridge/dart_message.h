// The Dart VM's message object as the engine builds it for posting, and the
// buffer record a posted reply carries as its finalizer's peer. Both layouts
// are fixed by the VM and the Dart side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmo::bridge {

using DartFinalizer = void (*)(void* isolate_callback_data, void* peer);
using DartPort = int64_t;

enum DartMessageKind : int32_t {
  kDartNull = 0,
  kDartBool = 1,
  kDartInt32 = 2,
  kDartInt64 = 3,
  kDartDouble = 4,
  kDartString = 5,
  kDartArray = 6,
  kDartTypedData = 7,
  kDartExternalTypedData = 8,
  kDartSendPort = 9,
  kDartCapability = 10,
  kDartNativePointer = 11,
  kDartUnsupported = 12,
  kDartUnmodifiableExternalTypedData = 13,
};

enum DartElementType : int32_t {
  kDartByteData = 0,
  kDartInt8 = 1,
  kDartUint8 = 2,
  kDartUint8Clamped = 3,
  kDartInt16 = 4,
  kDartUint16 = 5,
  kDartInt32Elements = 6,
  kDartUint32 = 7,
  kDartInt64Elements = 8,
  kDartUint64 = 9,
  kDartFloat32 = 10,
  kDartFloat64 = 11,
  kDartInt32x4 = 12,
  kDartFloat32x4 = 13,
  kDartFloat64x2 = 14,
};

// ElementSize is the byte size of one element, 0 for an unknown type.
size_t ElementSize(int32_t element_type);

struct DartMessage {
  int32_t kind;
  union {
    bool as_bool;
    int32_t as_int32;
    int64_t as_int64;
    double as_double;
    const char* as_string;
    struct {
      DartPort id;
      DartPort origin_id;
    } as_send_port;
    struct {
      int64_t id;
    } as_capability;
    struct {
      intptr_t length;
      DartMessage** values;
    } as_array;
    struct {
      int32_t type;
      intptr_t length;  // in elements
      const uint8_t* values;
    } as_typed_data;
    struct {
      int32_t type;
      intptr_t length;  // in elements
      uint8_t* data;
      void* peer;
      DartFinalizer callback;
    } as_external_typed_data;
    struct {
      intptr_t ptr;
      intptr_t size;
      DartFinalizer callback;
    } as_native_pointer;
  } value;
};

static_assert(sizeof(DartMessage) == 48);
static_assert(offsetof(DartMessage, value) == 8);
static_assert(offsetof(DartMessage, value.as_external_typed_data.length) == 16);
static_assert(offsetof(DartMessage, value.as_external_typed_data.data) == 24);
static_assert(offsetof(DartMessage, value.as_external_typed_data.peer) == 32);
static_assert(offsetof(DartMessage, value.as_external_typed_data.callback) ==
              40);

// BufferRecord is the peer of a posted reply: three 64-bit words. The
// finalizer releases `capacity` elements at `data`, then the record.
struct BufferRecord {
  uint64_t capacity;
  uint8_t* data;
  uint64_t length;
};
static_assert(sizeof(BufferRecord) == 24);

}  // namespace velmo::bridge
