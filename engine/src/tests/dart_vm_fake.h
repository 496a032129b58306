// A stand-in for the Dart VM, as the engine sees it: argument buffers made
// through engine_bytes_new, a post function that records messages and runs
// their finalizers when the test says the VM collects them, a
// dynamic-linking API record, and persistent handles.
//
// The message layout here is written out on its own, not taken from the
// engine, so that a drift on either side shows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <set>
#include <span>
#include <vector>

#include "velmo_core.h"

namespace velmo::testing {

using Finalizer = void (*)(void* isolate_callback_data, void* peer);

// The VM's message object (Dart_CObject) on x86-64.
struct VmMessage {
  int32_t type;
  int32_t padding;
  union {
    int64_t as_int64;
    struct {
      int32_t type;
      int32_t padding;
      intptr_t length;
      uint8_t* data;
      void* peer;
      Finalizer callback;
    } as_external_typed_data;
    struct {
      int32_t type;
      int32_t padding;
      intptr_t length;
      const uint8_t* values;
    } as_typed_data;
  } value;
};
static_assert(sizeof(VmMessage) == 48);
static_assert(offsetof(VmMessage, value) == 8);
static_assert(offsetof(VmMessage, value.as_external_typed_data.length) == 16);
static_assert(offsetof(VmMessage, value.as_external_typed_data.data) == 24);
static_assert(offsetof(VmMessage, value.as_external_typed_data.peer) == 32);
static_assert(offsetof(VmMessage, value.as_external_typed_data.callback) ==
              40);

inline constexpr int32_t kVmInt64 = 3;
inline constexpr int32_t kVmTypedData = 7;
inline constexpr int32_t kVmExternalTypedData = 8;
inline constexpr int32_t kVmUint8 = 2;

// What the fake kept of one posted message (the graph itself is only valid
// during the post).
struct Posted {
  int64_t port = 0;
  int32_t type = 0;
  int32_t element_type = 0;
  std::vector<uint8_t> bytes;  // a copy of the typed data
  int64_t integer = 0;         // for 64-bit integer messages
  void* data = nullptr;
  void* peer = nullptr;
  Finalizer callback = nullptr;
};

// The record layout the engine takes in engine_init_dart_api.
struct VmApiEntry {
  const char* name;
  void (*function)();
};
struct VmApiRecord {
  int32_t major;
  int32_t minor;
  const VmApiEntry* functions;
};

// FakeVm installs itself as the engine's post function and Dart API on
// construction; one exists at a time. Its destructor collects whatever is
// still uncollected, so no reply outlives a test.
class FakeVm {
 public:
  FakeVm();
  ~FakeVm();
  FakeVm(const FakeVm&) = delete;
  FakeVm& operator=(const FakeVm&) = delete;

  // The post function, for tests that register it themselves.
  static EnginePostFunction post_function();
  // A record binding the any-thread functions and the persistent-handle
  // functions, with the given major version.
  const EngineDartApiRecord* api_record(int32_t major = 2);

  // Posts to a dead port are refused, as after an isolate restart.
  void KillPort(int64_t port);

  // WaitForPosts waits until `count` messages in all have been posted; false
  // after a generous deadline (a hang, not a timing check).
  bool WaitForPosts(size_t count);
  std::vector<Posted> posts();
  std::vector<Posted> PostsTo(int64_t port);
  size_t num_posts();

  // Collect plays the garbage collector: runs the finalizer of every
  // delivered external byte array once. Returns how many ran.
  size_t Collect();

  // Persistent handles made and not yet deleted.
  size_t live_persistent_handles();
  // Every thread starts outside any isolate; tests enter one.
  static void EnterIsolate(void* isolate);

 private:
  static bool Post(int64_t port, EngineDartMessage* message);

  std::mutex mutex_;
  std::condition_variable posted_;
  std::vector<Posted> posts_;
  std::vector<Posted> uncollected_;
  std::set<int64_t> dead_ports_;
  std::vector<VmApiEntry> entries_;
  VmApiRecord record_{};
};

// CallerBuffer copies `bytes` into an argument buffer from engine_bytes_new,
// as the Dart side writes its arguments; `slack` extra bytes are allocated
// beyond the data.
struct CallerBuffer {
  uint8_t* data;
  int32_t cap;
  int32_t len;
};
CallerBuffer MakeArguments(std::span<const uint8_t> bytes, int32_t slack = 0);

// CallSync dispatches synchronously and returns a copy of the reply, which
// it frees through the engine.
std::vector<uint8_t> CallSync(int32_t op, std::span<const uint8_t> args);

}  // namespace velmo::testing
