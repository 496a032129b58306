// EngineError: the one error value every operation reports, and the rule that
// gives a failure of the session layer its kind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>

#include "bridge/codec.h"

namespace velmo::api {

enum class ErrorKind : int32_t {
  InvalidMessage = 0,
  NoSession = 1,
  DuplicateMessage = 2,
  UntrustedIdentity = 3,
  InvalidPreKeyId = 4,
  InvalidKey = 5,
  InvalidArgument = 6,
  Other = 7,
};

struct EngineError {
  ErrorKind kind = ErrorKind::Other;
  std::string message;

  static constexpr auto Fields() {
    return std::tuple(&EngineError::kind, &EngineError::message);
  }
  bool operator==(const EngineError&) const = default;
};

// ErrorKindOfProtocolFailure gives the kind of a session-layer failure from
// its text, matched against the fixed text templates ({} standing for any
// inserted value); a text that matches none is ErrorKind::Other.
ErrorKind ErrorKindOfProtocolFailure(std::string_view text);

// EngineErrorFromProtocolFailure wraps a session-layer failure text.
EngineError EngineErrorFromProtocolFailure(std::string text);

}  // namespace velmo::api

template <>
struct velmo::bridge::EnumVariants<velmo::api::ErrorKind> {
  static constexpr int32_t value = 8;
};
