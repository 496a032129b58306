// Tokens that keep a Dart object alive while engine code holds it. The object
// sits in a persistent handle of the isolate that made the token; the handle
// may only be deleted on that isolate's thread, so a token whose last
// reference goes elsewhere is sent back to the Dart side for deletion.
#pragma once

#include <atomic>
#include <cstdint>

#include "bridge/dart_api.h"

namespace velmo::bridge {

// DartObjectBox: the three words sent to the token's port when its last
// reference is dropped off its isolate; engine_drop_dart_object frees it.
struct DartObjectBox {
  DartHandle persistent;
  DartIsolate isolate;
  int64_t port;
};
static_assert(sizeof(DartObjectBox) == 24);

struct DartObjectToken {
  std::atomic<int64_t> refs;
  DartObjectBox object;
};

// HoldDartObject returns a token with one reference, or null when the API
// is not bound (or the handle could not be made).
DartObjectToken* HoldDartObject(DartHandle object, int64_t port);

// TakeDartObject returns a local handle to the object and drops one
// reference; null (keeping the reference) off the token's isolate.
DartHandle TakeDartObject(DartObjectToken* token);

// RetainDartObject adds a reference.
void RetainDartObject(DartObjectToken* token);

// ReleaseDartObject drops a reference. The last one deletes the persistent
// handle when on the token's isolate, and otherwise posts a DartObjectBox
// (as a 64-bit integer holding its address) to the token's port.
void ReleaseDartObject(DartObjectToken* token);

// DropDartObject frees a box from ReleaseDartObject and deletes its handle.
void DropDartObject(DartObjectBox* box);

}  // namespace velmo::bridge
