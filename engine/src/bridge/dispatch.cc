#include "bridge/dispatch.h"

#include <climits>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

#include "api/operation_table.h"
#include "bridge/encoding.h"
#include "bridge/post.h"
#include "bridge/shared_state.h"

namespace velmo::bridge {
namespace {

constexpr std::string_view kNoMessageFault = "internal failure (no message)";

const api::Operation& FindOrFault(int32_t number, api::Mode mode) {
  const api::Operation* op = api::FindOperation(number);
  if (op == nullptr) {
    throw Fault("unknown operation " + std::to_string(number));
  }
  if (op->mode != mode) {
    throw Fault("operation " + std::to_string(number) + " (" + op->name +
                ") is " +
                (op->mode == api::Mode::kSync ? "synchronous" : "asynchronous") +
                " and cannot be dispatched this way");
  }
  return *op;
}

OwnedBytes Run(const api::Operation& op, Arguments& args) {
  ByteWriter reply;
  op.invoke(op, args, reply);
  if (reply.size() > INT32_MAX) {
    throw Fault("reply does not fit a 32-bit length");
  }
  return reply.TakeBytes();
}

// The one place where failures of an asynchronous operation are caught.
void RunJob(const api::Operation& op, DartPort port) noexcept {
  OwnedBytes reply;
  try {
    Arguments none;
    reply = Run(op, none);
  } catch (const std::exception& e) {
    reply = FaultReply(e.what());
  } catch (...) {
    reply = FaultReply(nullptr);
  }
  PostReply(port, std::move(reply));
}

}  // namespace

OwnedBytes FaultReply(const char* text) noexcept {
  std::string_view message = text != nullptr ? text : "";
  // The Dart side decodes the text as UTF-8; an exception's own text from
  // somewhere below is not trusted to be.
  if (message.empty() ||
      !IsValidUtf8({reinterpret_cast<const uint8_t*>(message.data()),
                    message.size()})) {
    message = kNoMessageFault;
  }
  try {
    ByteWriter reply;
    reply.AddU8(api::kActionFault);
    reply.AddText(message);
    return reply.TakeBytes();
  } catch (...) {
    return OwnedBytes();
  }
}

// DispatchSync and RunSync are the one place where failures of a
// synchronous call are caught.
OwnedBytes DispatchSync(int32_t number, Arguments args) noexcept {
  try {
    EnsureSharedState();
    const api::Operation& op = FindOrFault(number, api::Mode::kSync);
    return RunSync(op, std::move(args));
  } catch (const std::exception& e) {
    return FaultReply(e.what());
  } catch (...) {
    return FaultReply(nullptr);
  }
}

OwnedBytes RunSync(const api::Operation& op, Arguments args) noexcept {
  try {
    args.CheckLengths();
    return Run(op, args);
  } catch (const std::exception& e) {
    return FaultReply(e.what());
  } catch (...) {
    return FaultReply(nullptr);
  }
}

void DispatchAsync(int32_t number, DartPort port, Arguments args) noexcept {
  try {
    SharedState& state = EnsureSharedState();
    const api::Operation& op = FindOrFault(number, api::Mode::kAsync);
    args.CheckLengths();
    args.Finish();  // asynchronous operations take no arguments
    state.pool.Submit([op = &op, port] { RunJob(*op, port); });
  } catch (const std::exception& e) {
    PostReply(port, FaultReply(e.what()));
  } catch (...) {
    PostReply(port, FaultReply(nullptr));
  }
}

}  // namespace velmo::bridge
