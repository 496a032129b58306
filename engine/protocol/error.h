// Failures of the session layer: a number that decides the error kind the
// caller sees, and the rendered text. All texts are made here, from the fixed
// templates, so that no two places spell one differently.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace velmo::proto {

// The numbers are the session layer's own error numbers; gaps belong to
// failures this engine never raises.
enum class ErrorCode : uint8_t {
  kInvalidArgument = 0,             // "invalid argument: {}"
  kInvalidState = 1,                // "invalid state for call to {} to succeed: {}"
  kInvalidProtobuf = 2,             // "protobuf encoding was invalid"
  kCiphertextTooShort = 3,          // "ciphertext serialized bytes were too short <{}>"
  kLegacyCiphertextVersion = 4,     // "ciphertext version was too old <{}>"
  kUnrecognizedCiphertextVersion = 5,  // "ciphertext version was unrecognized <{}>"
  kUnrecognizedMessageVersion = 6,  // "unrecognized message version <{}>"
  kNoKeyTypeIdentifier = 9,         // "no key type identifier"
  kBadKeyType = 10,                 // "bad key type <{}>"
  kBadKeyLength = 11,               // "bad key length <{}> for key with type <{}>"
  kSignatureValidationFailed = 12,  // "invalid signature detected"
  kUntrustedIdentity = 13,          // "untrusted identity for address {}"
  kInvalidPreKeyId = 14,            // "invalid prekey identifier"
  kInvalidSignedPreKeyId = 15,      // "invalid signed prekey identifier"
  kInvalidKyberPreKeyId = 16,       // "invalid Kyber prekey identifier"
  kInvalidMacKeyLength = 17,        // "invalid MAC key length <{}>"
  kSessionNotFound = 19,            // "session with {} not found"
  kInvalidSessionStructure = 20,    // "invalid session: {}"
  kDuplicatedMessage = 23,          // "message with old counter {} / {}"
  kInvalidMessage = 24,             // "invalid {} message: {}"
  kBadKemKeyType = 30,              // "bad KEM key type <{}>"
  kWrongKemKeyType = 31,            // "unexpected KEM key type <{}> (expected <{}>)"
  kBadKemKeyLength = 32,            // "bad KEM key length <{}> for key with type <{}>"
  kBadKemCiphertextLength = 33,     // "bad KEM ciphertext length <{}> for key with type <{}>"
  kOther = 255,                     // a failure with a text of its own
};

struct Error {
  ErrorCode code;
  std::string message;
};

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
  Error&& take_error() { return std::get<1>(std::move(v_)); }

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
  static Status Ok() { return Status(); }

  bool ok() const { return ok_; }
  const Error& error() const { return error_; }
  Error&& take_error() { return std::move(error_); }

 private:
  Error error_{ErrorCode::kOther, {}};
  bool ok_ = true;
};

// The kinds of message, named as error texts name them.
enum class MessageType : uint8_t { kWhisper = 2, kPreKey = 3 };
std::string_view MessageTypeName(MessageType type);

// Constructors of the errors, one per template. Key read failures come from
// the primitive layer's key readers (see keys.h).
namespace errors {
Error InvalidArgument(std::string_view what);
Error InvalidState(std::string_view call, std::string_view what);
Error InvalidProtobuf();
Error CiphertextTooShort(size_t length);
Error LegacyCiphertextVersion(uint8_t version);
Error UnrecognizedCiphertextVersion(uint8_t version);
Error UnrecognizedMessageVersion(uint32_t version);
Error SignatureValidationFailed();
Error UntrustedIdentity(std::string_view address);
Error InvalidPreKeyId();
Error InvalidSignedPreKeyId();
Error InvalidKyberPreKeyId();
Error InvalidMacKeyLength(size_t length);
Error SessionNotFound(std::string_view address);
Error InvalidSession(std::string_view what);
Error DuplicatedMessage(uint32_t chain_index, uint32_t counter);
Error InvalidMessage(MessageType type, std::string_view reason);
}  // namespace errors

// Lower-case hexadecimal of a byte string, for log lines.
std::string Hex(const uint8_t* data, size_t size);

}  // namespace velmo::proto
