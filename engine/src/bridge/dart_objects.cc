#include "bridge/dart_objects.h"

#include <new>

#include "bridge/post.h"

namespace velmo::bridge {
namespace {

DartIsolate CurrentIsolate() {
  auto current = BoundDart<CurrentIsolateFn>(DartFn::CurrentIsolate);
  return current != nullptr ? current() : nullptr;
}

void DeleteHandle(DartHandle persistent) {
  auto del =
      BoundDart<DeletePersistentHandleFn>(DartFn::DeletePersistentHandle);
  if (del != nullptr && persistent != nullptr) {
    del(persistent);
  }
}

}  // namespace

DartObjectToken* HoldDartObject(DartHandle object, int64_t port) {
  auto make = BoundDart<NewPersistentHandleFn>(DartFn::NewPersistentHandle);
  if (make == nullptr) {
    return nullptr;
  }
  DartHandle persistent = make(object);
  if (persistent == nullptr) {
    return nullptr;
  }
  auto* token = new (std::nothrow)
      DartObjectToken{{1}, DartObjectBox{persistent, CurrentIsolate(), port}};
  if (token == nullptr) {
    DeleteHandle(persistent);
  }
  return token;
}

DartHandle TakeDartObject(DartObjectToken* token) {
  auto from = BoundDart<HandleFromPersistentFn>(DartFn::HandleFromPersistent);
  if (token == nullptr || from == nullptr ||
      CurrentIsolate() != token->object.isolate) {
    return nullptr;
  }
  DartHandle local = from(token->object.persistent);
  ReleaseDartObject(token);
  return local;
}

void RetainDartObject(DartObjectToken* token) {
  token->refs.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseDartObject(DartObjectToken* token) {
  if (token == nullptr ||
      token->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) {
    return;
  }
  DartObjectBox object = token->object;
  delete token;
  if (CurrentIsolate() == object.isolate) {
    DeleteHandle(object.persistent);
    return;
  }
  auto* box = new (std::nothrow) DartObjectBox(object);
  if (box == nullptr) {
    return;  // the handle stays until its isolate goes away
  }
  DartMessage message{};
  message.kind = kDartInt64;
  message.value.as_int64 = static_cast<int64_t>(reinterpret_cast<intptr_t>(box));
  if (!PostMessage(object.port, &message)) {
    // Nobody will delete the handle now; its isolate is most likely gone.
    delete box;
  }
}

void DropDartObject(DartObjectBox* box) {
  if (box == nullptr) {
    return;
  }
  DeleteHandle(box->persistent);
  delete box;
}

}  // namespace velmo::bridge
