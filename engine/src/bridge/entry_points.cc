// The exported entry points (besides the buffer finalizers, finalizers.cc).
// Each is a thin shell: nothing thrown below may cross the C boundary.
#include <climits>
#include <cstdlib>
#include <exception>
#include <new>

#include "api/operation_table.h"
#include "bridge/arguments.h"
#include "bridge/dart_api.h"
#include "bridge/dart_message.h"
#include "bridge/dart_objects.h"
#include "bridge/dispatch.h"
#include "bridge/heap_bytes.h"
#include "bridge/post.h"
#include "bridge/shared_state.h"
#include "velmo_core.h"

namespace bridge = velmo::bridge;

namespace {

// Called by the Dart side when one of its isolates shuts down.
void ShutdownUser() {
  bridge::RemoveShutdownUser();
}

void FreeMessage(bridge::DartMessage* message) {
  if (message == nullptr) {
    return;
  }
  switch (message->kind) {
    case bridge::kDartString:
      std::free(const_cast<char*>(message->value.as_string));
      break;
    case bridge::kDartArray:
      for (intptr_t i = 0; i < message->value.as_array.length; i++) {
        FreeMessage(message->value.as_array.values[i]);
      }
      std::free(message->value.as_array.values);
      break;
    case bridge::kDartTypedData:
      // Plain typed data owns its elements: length x element size bytes.
      bridge::ReleaseBytes(
          const_cast<uint8_t*>(message->value.as_typed_data.values),
          static_cast<size_t>(message->value.as_typed_data.length) *
              bridge::ElementSize(message->value.as_typed_data.type));
      break;
    default:
      break;  // external typed data is released by its own finalizer
  }
  std::free(message);
}

}  // namespace

extern "C" {

EngineSyncReply engine_dispatch_sync(int32_t op, uint8_t* args,
                                     int32_t args_cap, int32_t args_len) {
  bridge::OwnedBytes reply =
      bridge::DispatchSync(op, bridge::Arguments(args, args_cap, args_len));
  // DispatchSync keeps replies below 2^31 bytes.
  int32_t len = static_cast<int32_t>(reply.size());
  return EngineSyncReply{reply.Release(), len};
}

void engine_dispatch_async(int32_t op, int64_t reply_port, uint8_t* args,
                           int32_t args_cap, int32_t args_len) {
  bridge::DispatchAsync(op, reply_port,
                        bridge::Arguments(args, args_cap, args_len));
}

void engine_free_sync_reply(uint8_t* data, int32_t len) {
  if (len > 0) {
    bridge::ReleaseBytes(data, static_cast<size_t>(len));
  }
}

void engine_free_sync_reply_object(EngineDartMessage* boxed) {
  FreeMessage(reinterpret_cast<bridge::DartMessage*>(boxed));
}

uint8_t* engine_bytes_new(int32_t len) {
  if (len < 0) {
    return nullptr;
  }
  return bridge::AllocateZeroed(static_cast<size_t>(len));
}

uint8_t* engine_bytes_resize(uint8_t* data, int32_t old_len, int32_t new_len) {
  if (old_len < 0 || new_len < 0) {
    return nullptr;
  }
  if (new_len == 0) {
    bridge::ReleaseBytes(data, static_cast<size_t>(old_len));
    return bridge::kEmptyPlaceholder;
  }
  return bridge::Reallocate(data, static_cast<size_t>(old_len),
                            static_cast<size_t>(new_len));
}

void engine_bytes_free(uint8_t* data, int32_t len) {
  if (len > 0) {
    bridge::ReleaseBytes(data, static_cast<size_t>(len));
  }
}

int32_t engine_content_hash(void) {
  return static_cast<int32_t>(velmo::api::kContentHash);
}

int32_t engine_init_dart_api(const EngineDartApiRecord* api) {
  return bridge::BindDartApi(reinterpret_cast<const bridge::DartApiRecord*>(api));
}

void engine_set_post_function(EnginePostFunction post) {
  bridge::SetPostFunction(reinterpret_cast<bridge::PostFunction>(post));
}

void (*engine_create_shutdown_callback(void))(void) {
  bridge::AddShutdownUser();
  return &ShutdownUser;
}

void engine_deliver_callback_output(int32_t call_id, uint8_t* data,
                                    int32_t cap, int32_t len) {
  bridge::Arguments output(data, cap, len);
  try {
    bridge::EnsureSharedState().callbacks.Deliver(call_id, std::move(output));
  } catch (const std::exception& e) {
    bridge::EmitWarning(e.what());
  } catch (...) {
    bridge::EmitWarning("engine_deliver_callback_output failed");
  }
}

void* engine_hold_dart_object(void* object, int64_t port) {
  return bridge::HoldDartObject(object, port);
}

void* engine_take_dart_object(void* token) {
  return bridge::TakeDartObject(static_cast<bridge::DartObjectToken*>(token));
}

void engine_drop_dart_object(void* boxed) {
  bridge::DropDartObject(static_cast<bridge::DartObjectBox*>(boxed));
}

}  // extern "C"
