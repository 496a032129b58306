// The Dart VM functions the engine may call, bound by name from the VM's
// dynamic-linking API record.
#pragma once

#include <cstdint>

#include "bridge/dart_message.h"

namespace velmo::bridge {

// The record the Dart side passes (NativeApi.initializeApiDLData).
struct DartApiEntry {
  const char* name;
  void (*function)();
};
struct DartApiRecord {
  int32_t major;
  int32_t minor;
  const DartApiEntry* functions;  // ends with a null name
};
static_assert(sizeof(DartApiEntry) == 16);
static_assert(sizeof(DartApiRecord) == 16);

inline constexpr int32_t kDartApiMajorVersion = 2;

// The names looked up, in slot order.
enum class DartFn {
  PostCObject,
  PostInteger,
  NewNativePort,
  CloseNativePort,
  IsError,
  IsApiError,
  IsUnhandledExceptionError,
  IsCompilationError,
  IsFatalError,
  GetError,
  ErrorHasException,
  ErrorGetException,
  ErrorGetStackTrace,
  NewApiError,
  NewCompilationError,
  NewUnhandledExceptionError,
  PropagateError,
  HandleFromPersistent,
  HandleFromWeakPersistent,
  NewPersistentHandle,
  SetPersistentHandle,
  DeletePersistentHandle,
  NewWeakPersistentHandle,
  DeleteWeakPersistentHandle,
  NewFinalizableHandle,
  DeleteFinalizableHandle,
  CurrentIsolate,
  ExitIsolate,
  EnterIsolate,
  Post,
  NewSendPort,
  SendPortGetId,
  EnterScope,
  ExitScope,
  IsNull,
  kCount,
};

// DartFnName is the VM's name of a slot ("Dart_PostCObject", ...).
const char* DartFnName(DartFn fn);

// BindDartApi binds every slot from `record`: 0, or -1 (binding nothing)
// for a null record or a major version other than 2. A name missing from the
// table leaves its slot empty.
int32_t BindDartApi(const DartApiRecord* record);

// BoundDartFn is the function bound to a slot, or null.
void (*BoundDartFn(DartFn fn))();

// The few the engine calls, typed; each is null until bound.
using DartHandle = void*;
using DartIsolate = void*;
using NewPersistentHandleFn = DartHandle (*)(DartHandle object);
using HandleFromPersistentFn = DartHandle (*)(DartHandle persistent);
using DeletePersistentHandleFn = void (*)(DartHandle persistent);
using CurrentIsolateFn = DartIsolate (*)();

template <class Fn>
Fn BoundDart(DartFn fn) {
  return reinterpret_cast<Fn>(BoundDartFn(fn));
}

}  // namespace velmo::bridge
