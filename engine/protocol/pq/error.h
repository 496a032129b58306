// Failures of the post-quantum ratchet: a number from the ratchet's own table
// (the session layer maps them onto its error kinds) and the rendered text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace velmo::pq {

enum class ErrorCode : uint8_t {
  kStateDecode = 0,             // "state decode failed"
  kNotImplemented = 1,          // "not yet implemented"
  kMessageDecode = 2,           // "message decode failed"
  kMacVerification = 3,         // "MAC verification failed"
  kEpochOutOfRange = 4,         // "epoch not in valid range: {}"
  kEncoding = 5,                // "Encoding error: {}"
  kSerialization = 6,           // "Serialization: {}"
  kVersionMismatch = 7,         // "Version mismatch after negotiation"
  kMinimumVersion = 8,          // "Minimum version"
  kKeyJump = 9,                 // "Key jump: {} - {}"
  kKeyTrimmed = 10,             // "Key trimmed: {}"
  kKeyAlreadyRequested = 11,    // "Key already requested: {}"
  kErroneousData = 12,          // "Erroneous data received from remote party"
  kSendKeyEpochDecreased = 13,  // "Send key epoch decreased ({} -> {})"
  kInvalidParams = 14,          // "Invalid params: {}"
  kChainNotAvailable = 15,      // "Chain not available"
};

struct Error {
  ErrorCode code;
  std::string message;
};

// Constructors, one per text template, so that no two places spell one
// differently.
namespace errors {
Error StateDecode();
Error MessageDecode();
Error MacVerification();
Error EpochOutOfRange(uint64_t epoch);
Error VersionMismatch();
Error MinimumVersion();
Error KeyJump(uint32_t from, uint32_t to);
Error KeyTrimmed(uint32_t index);
Error KeyAlreadyRequested(uint32_t index);
Error ErroneousData();
Error SendKeyEpochDecreased(uint64_t from, uint64_t to);
Error InvalidParams(std::string_view what);
Error ChainNotAvailable();
}  // namespace errors

// Result holds a value or the Error that prevented it.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const { return v_.index() == 0; }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const Error& error() const { return std::get<1>(v_); }

  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

 private:
  std::variant<T, Error> v_;
};

// Status is a Result without a value.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)), ok_(false) {}

  bool ok() const { return ok_; }
  const Error& error() const { return error_; }

 private:
  Error error_{ErrorCode::kNotImplemented, {}};
  bool ok_ = true;
};

}  // namespace velmo::pq
