// Outcome: what an operation that can fail hands back, its result or the
// EngineError that replaces it.
#pragma once

#include <utility>
#include <variant>

#include "api/engine_error.h"

namespace velmo::api {

template <class T>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Outcome(EngineError error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  T& value() { return std::get<0>(v_); }
  const T& value() const { return std::get<0>(v_); }
  const EngineError& error() const { return std::get<1>(v_); }

 private:
  std::variant<T, EngineError> v_;
};

}  // namespace velmo::api
