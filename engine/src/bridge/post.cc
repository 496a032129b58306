#include "bridge/post.h"

#include <atomic>
#include <cstdio>
#include <new>
#include <string>

#include "protocol/log.h"
#include "velmo_core.h"

namespace velmo::bridge {
namespace {

// Written at start-up and at shutdown on the Dart thread, read by every
// worker; atomic so that a late shutdown racing a worker's post is defined.
std::atomic<PostFunction> g_post{nullptr};
std::atomic<int64_t> g_shutdown_users{0};

// Stands in for the VM once every user has shut down. A dropped message
// still hands its external data back through the finalizer, as the VM does
// for a message it drops; accepting it without that would leak every reply.
bool DropMessage(DartPort, DartMessage* message) {
  if (message != nullptr &&
      (message->kind == kDartExternalTypedData ||
       message->kind == kDartUnmodifiableExternalTypedData) &&
      message->value.as_external_typed_data.callback != nullptr) {
    message->value.as_external_typed_data.callback(
        nullptr, message->value.as_external_typed_data.peer);
  }
  return true;
}

}  // namespace

void SetPostFunction(PostFunction post) noexcept {
  g_post.store(post, std::memory_order_release);
}

void EmitWarning(std::string_view line) noexcept {
  if (log::Enabled(log::Level::kWarning)) {
    log::Write(log::Level::kWarning, line);
    return;
  }
  // One write per line, so lines from several workers do not interleave.
  char buffer[512];
  if (line.size() < sizeof(buffer)) {
    line.copy(buffer, line.size());
    buffer[line.size()] = '\n';
    std::fwrite(buffer, 1, line.size() + 1, stdout);
  } else {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  std::fflush(stdout);
}

bool PostMessage(DartPort port, DartMessage* message) noexcept {
  PostFunction post = g_post.load(std::memory_order_acquire);
  if (post == nullptr || !post(port, message)) {
    EmitWarning(kFailedPostWarning);
    return false;
  }
  return true;
}

void PostReply(DartPort port, OwnedBytes reply) noexcept {
  DartMessage message{};
  BufferRecord* record = nullptr;
  if (reply.empty()) {
    message.kind = kDartTypedData;
    message.value.as_typed_data.type = kDartUint8;
    message.value.as_typed_data.length = 0;
    message.value.as_typed_data.values = nullptr;
  } else {
    record = new (std::nothrow) BufferRecord{reply.size(), reply.data(),
                                             reply.size()};
    if (record == nullptr) {
      EmitWarning(kFailedPostWarning);
      return;  // `reply` releases the bytes
    }
    reply.Release();  // the record owns them now
    message.kind = kDartExternalTypedData;
    message.value.as_external_typed_data.type = kDartUint8;
    message.value.as_external_typed_data.length =
        static_cast<intptr_t>(record->length);
    message.value.as_external_typed_data.data = record->data;
    message.value.as_external_typed_data.peer = record;
    message.value.as_external_typed_data.callback = &engine_release_buffer_u8;
  }
  if (!PostMessage(port, &message) && record != nullptr) {
    engine_release_buffer_u8(nullptr, record);
  }
}

void ReleaseBuffer(void* peer, size_t element_len) noexcept {
  auto* record = static_cast<BufferRecord*>(peer);
  if (record == nullptr) {
    return;
  }
  if (record->capacity > 0) {
    ReleaseBytes(record->data, record->capacity * element_len);
  }
  delete record;
}

void AddShutdownUser() noexcept {
  g_shutdown_users.fetch_add(1, std::memory_order_acq_rel);
}

void RemoveShutdownUser() noexcept {
  if (g_shutdown_users.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    SetPostFunction(&DropMessage);
  }
}

}  // namespace velmo::bridge
