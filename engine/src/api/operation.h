// What an operation is to the bridge: a number, a mode, and one function that
// reads its arguments, runs it and writes its reply. An entry is made from a
// plain C++ handler; its parameter and result types decide the encoding:
//
//   Outcome<uint8_t> CiphertextVersion(Bytes ciphertext);
//   constexpr Operation kEntry = Sync<&CiphertextVersion>(1, "ciphertext_version");
//
// Handlers return Outcome<T> (a T or an EngineError) or, when they cannot
// fail, T itself. Throwing (bridge::Fault or anything else) is an internal
// failure and becomes a fault reply.
#pragma once

#include <cstdint>
#include <tuple>
#include <type_traits>
#include <utility>

#include "api/engine_error.h"
#include "api/outcome.h"
#include "bridge/arguments.h"
#include "bridge/codec.h"
#include "bridge/encoding.h"

namespace velmo::api {

enum class Mode { kSync, kAsync };

// Reply action bytes.
inline constexpr uint8_t kActionOk = 0;
inline constexpr uint8_t kActionError = 1;
inline constexpr uint8_t kActionFault = 3;

struct Operation {
  int32_t number;
  const char* name;
  Mode mode;
  // invoke reads the arguments (releasing the buffer once they are read),
  // runs the operation and writes the reply, action byte first. Throws on an
  // internal failure, with `reply` then in no particular state.
  void (*invoke)(const Operation& self, bridge::Arguments& args,
                 bridge::ByteWriter& reply);
  // read_result reads an ok reply's payload and requires it to end there;
  // for tests and fuzzing.
  bool (*read_result)(bridge::ByteReader& in);
};

namespace internal {

template <class R>
struct Unwrap {
  using type = R;
};
template <class T>
struct Unwrap<Outcome<T>> {
  using type = T;
};

template <class F>
struct HandlerTraits;
template <class R, class... A>
struct HandlerTraits<R (*)(A...)> {
  using Values = std::tuple<std::remove_cvref_t<A>...>;
  using Result = typename Unwrap<R>::type;
  static constexpr size_t kNumArgs = sizeof...(A);
};
template <class R, class... A>
struct HandlerTraits<R (*)(A...) noexcept> : HandlerTraits<R (*)(A...)> {};

template <class T>
void WriteOk(bridge::ByteWriter& reply, const T& value) {
  reply.AddU8(kActionOk);
  bridge::Write(reply, value);
}

template <class T>
void WriteOk(bridge::ByteWriter& reply, const Outcome<T>& outcome) {
  if (!outcome.ok()) {
    reply.AddU8(kActionError);
    bridge::Write(reply, outcome.error());
    return;
  }
  WriteOk(reply, outcome.value());
}

template <auto kHandler>
void Invoke(const Operation&, bridge::Arguments& args,
            bridge::ByteWriter& reply) {
  typename HandlerTraits<decltype(kHandler)>::Values values;
  static_cast<void>(bridge::ReadValues(args.reader(), &values));
  args.Finish();  // throws for a failed read as well as for bytes left over
  WriteOk(reply, std::apply(kHandler, std::move(values)));
}

template <auto kHandler>
bool ReadResult(bridge::ByteReader& in) {
  typename HandlerTraits<decltype(kHandler)>::Result result{};
  return bridge::Read(in, &result) && in.at_end();
}

void InvokeNotBuilt(const Operation& self, bridge::Arguments& args,
                    bridge::ByteWriter& reply);
bool ReadNothing(bridge::ByteReader& in);

}  // namespace internal

// Sync makes the entry of an operation run on the calling thread.
template <auto kHandler>
constexpr Operation Sync(int32_t number, const char* name) {
  return Operation{number, name, Mode::kSync, &internal::Invoke<kHandler>,
                   &internal::ReadResult<kHandler>};
}

// Async makes the entry of an operation run on the worker pool; such
// operations take no arguments.
template <auto kHandler>
constexpr Operation Async(int32_t number, const char* name) {
  static_assert(internal::HandlerTraits<decltype(kHandler)>::kNumArgs == 0,
                "asynchronous operations take no arguments");
  return Operation{number, name, Mode::kAsync, &internal::Invoke<kHandler>,
                   &internal::ReadResult<kHandler>};
}

// NotBuilt holds the place of an operation this engine does not have yet:
// calling it is an internal failure.
constexpr Operation NotBuilt(int32_t number, const char* name, Mode mode) {
  return Operation{number, name, mode, &internal::InvokeNotBuilt,
                   &internal::ReadNothing};
}

}  // namespace velmo::api
