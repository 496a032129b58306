#include "tests/dart_vm_fake.h"

#include <atomic>
#include <cstring>
#include <utility>

namespace velmo::testing {
namespace {

std::atomic<FakeVm*> g_vm{nullptr};

// Persistent handles: a heap cell holding the object handle.
std::mutex g_handles_mutex;
std::set<void*> g_live_handles;
thread_local void* t_isolate = nullptr;

void* NewPersistentHandle(void* object) {
  auto* cell = new void*(object);
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  g_live_handles.insert(cell);
  return cell;
}

void* HandleFromPersistent(void* persistent) {
  return *static_cast<void**>(persistent);
}

void DeletePersistentHandle(void* persistent) {
  {
    std::lock_guard<std::mutex> lock(g_handles_mutex);
    g_live_handles.erase(persistent);
  }
  delete static_cast<void**>(persistent);
}

void* CurrentIsolate() {
  return t_isolate;
}

bool PostInteger(int64_t, int64_t) {
  return false;
}

int64_t NewNativePort(const char*, void*, bool) {
  return 0;
}

bool CloseNativePort(int64_t) {
  return false;
}

template <class F>
void (*Generic(F f))() {
  return reinterpret_cast<void (*)()>(f);
}

}  // namespace

FakeVm::FakeVm() {
  g_vm = this;
  entries_ = {
      {"Dart_PostCObject", Generic(&FakeVm::Post)},
      {"Dart_PostInteger", Generic(&PostInteger)},
      {"Dart_NewNativePort", Generic(&NewNativePort)},
      {"Dart_CloseNativePort", Generic(&CloseNativePort)},
      {"Dart_NewPersistentHandle", Generic(&NewPersistentHandle)},
      {"Dart_HandleFromPersistent", Generic(&HandleFromPersistent)},
      {"Dart_DeletePersistentHandle", Generic(&DeletePersistentHandle)},
      {"Dart_CurrentIsolate", Generic(&CurrentIsolate)},
      {nullptr, nullptr},
  };
  engine_set_post_function(&FakeVm::Post);
  engine_init_dart_api(api_record());
}

FakeVm::~FakeVm() {
  Collect();
  engine_set_post_function(nullptr);
  g_vm = nullptr;
}

EnginePostFunction FakeVm::post_function() {
  return &FakeVm::Post;
}

const EngineDartApiRecord* FakeVm::api_record(int32_t major) {
  record_ = VmApiRecord{major, 5, entries_.data()};
  return reinterpret_cast<const EngineDartApiRecord*>(&record_);
}

bool FakeVm::Post(int64_t port, EngineDartMessage* message) {
  FakeVm* vm = g_vm;
  if (vm == nullptr) {
    return false;
  }
  const auto* m = reinterpret_cast<const VmMessage*>(message);
  Posted p;
  p.port = port;
  p.type = m->type;
  if (m->type == kVmExternalTypedData) {
    const auto& e = m->value.as_external_typed_data;
    p.element_type = e.type;
    p.bytes.assign(e.data, e.data + e.length);
    p.data = e.data;
    p.peer = e.peer;
    p.callback = e.callback;
  } else if (m->type == kVmTypedData) {
    const auto& t = m->value.as_typed_data;
    p.element_type = t.type;
    if (t.length > 0) {
      p.bytes.assign(t.values, t.values + t.length);
    }
  } else if (m->type == kVmInt64) {
    p.integer = m->value.as_int64;
  }
  std::lock_guard<std::mutex> lock(vm->mutex_);
  if (vm->dead_ports_.count(port) != 0) {
    return false;
  }
  if (p.callback != nullptr) {
    vm->uncollected_.push_back(p);
  }
  vm->posts_.push_back(std::move(p));
  vm->posted_.notify_all();
  return true;
}

void FakeVm::KillPort(int64_t port) {
  std::lock_guard<std::mutex> lock(mutex_);
  dead_ports_.insert(port);
}

bool FakeVm::WaitForPosts(size_t count) {
  std::unique_lock<std::mutex> lock(mutex_);
  return posted_.wait_for(lock, std::chrono::seconds(60),
                          [&] { return posts_.size() >= count; });
}

std::vector<Posted> FakeVm::posts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return posts_;
}

std::vector<Posted> FakeVm::PostsTo(int64_t port) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Posted> out;
  for (const Posted& p : posts_) {
    if (p.port == port) {
      out.push_back(p);
    }
  }
  return out;
}

size_t FakeVm::num_posts() {
  std::lock_guard<std::mutex> lock(mutex_);
  return posts_.size();
}

size_t FakeVm::Collect() {
  std::vector<Posted> due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    due.swap(uncollected_);
  }
  for (const Posted& p : due) {
    p.callback(nullptr, p.peer);
  }
  return due.size();
}

size_t FakeVm::live_persistent_handles() {
  std::lock_guard<std::mutex> lock(g_handles_mutex);
  return g_live_handles.size();
}

void FakeVm::EnterIsolate(void* isolate) {
  t_isolate = isolate;
}

CallerBuffer MakeArguments(std::span<const uint8_t> bytes, int32_t slack) {
  int32_t len = static_cast<int32_t>(bytes.size());
  uint8_t* data = engine_bytes_new(len + slack);
  if (!bytes.empty()) {
    std::memcpy(data, bytes.data(), bytes.size());
  }
  return CallerBuffer{data, len + slack, len};
}

std::vector<uint8_t> CallSync(int32_t op, std::span<const uint8_t> args) {
  CallerBuffer in = MakeArguments(args);
  EngineSyncReply reply = engine_dispatch_sync(op, in.data, in.cap, in.len);
  std::vector<uint8_t> out(reply.data, reply.data + reply.len);
  engine_free_sync_reply(reply.data, reply.len);
  return out;
}

}  // namespace velmo::testing
