#include "bridge/dart_api.h"

#include <array>
#include <cstring>

namespace velmo::bridge {
namespace {

constexpr size_t kNumFns = static_cast<size_t>(DartFn::kCount);

constexpr std::array<const char*, kNumFns> kNames = {
    "Dart_PostCObject",
    "Dart_PostInteger",
    "Dart_NewNativePort",
    "Dart_CloseNativePort",
    "Dart_IsError",
    "Dart_IsApiError",
    "Dart_IsUnhandledExceptionError",
    "Dart_IsCompilationError",
    "Dart_IsFatalError",
    "Dart_GetError",
    "Dart_ErrorHasException",
    "Dart_ErrorGetException",
    "Dart_ErrorGetStackTrace",
    "Dart_NewApiError",
    "Dart_NewCompilationError",
    "Dart_NewUnhandledExceptionError",
    "Dart_PropagateError",
    "Dart_HandleFromPersistent",
    "Dart_HandleFromWeakPersistent",
    "Dart_NewPersistentHandle",
    "Dart_SetPersistentHandle",
    "Dart_DeletePersistentHandle",
    "Dart_NewWeakPersistentHandle",
    "Dart_DeleteWeakPersistentHandle",
    "Dart_NewFinalizableHandle",
    "Dart_DeleteFinalizableHandle",
    "Dart_CurrentIsolate",
    "Dart_ExitIsolate",
    "Dart_EnterIsolate",
    "Dart_Post",
    "Dart_NewSendPort",
    "Dart_SendPortGetId",
    "Dart_EnterScope",
    "Dart_ExitScope",
    "Dart_IsNull",
};

// Written by the Dart thread at start-up, before the calls that read them.
std::array<void (*)(), kNumFns> g_bound{};

}  // namespace

const char* DartFnName(DartFn fn) {
  return kNames[static_cast<size_t>(fn)];
}

int32_t BindDartApi(const DartApiRecord* record) {
  if (record == nullptr || record->major != kDartApiMajorVersion) {
    return -1;
  }
  for (size_t slot = 0; slot < kNumFns; slot++) {
    g_bound[slot] = nullptr;
    for (const DartApiEntry* entry = record->functions;
         entry != nullptr && entry->name != nullptr; entry++) {
      if (std::strcmp(entry->name, kNames[slot]) == 0) {
        g_bound[slot] = entry->function;
        break;
      }
    }
  }
  return 0;
}

void (*BoundDartFn(DartFn fn))() {
  return g_bound[static_cast<size_t>(fn)];
}

}  // namespace velmo::bridge
