#include "protocol/error.h"

namespace velmo::proto {

std::string_view MessageTypeName(MessageType type) {
  switch (type) {
    case MessageType::kWhisper:
      return "Whisper";
    case MessageType::kPreKey:
      return "PreKey";
  }
  return "Unknown";
}

std::string Hex(const uint8_t* data, size_t size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; i++) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 15]);
  }
  return out;
}

namespace errors {
namespace {

Error Make(ErrorCode code, std::string message) {
  return Error{code, std::move(message)};
}

std::string Angle(std::string_view s) {
  return "<" + std::string(s) + ">";
}

}  // namespace

Error InvalidArgument(std::string_view what) {
  return Make(ErrorCode::kInvalidArgument,
              "invalid argument: " + std::string(what));
}

Error InvalidState(std::string_view call, std::string_view what) {
  return Make(ErrorCode::kInvalidState,
              "invalid state for call to " + std::string(call) +
                  " to succeed: " + std::string(what));
}

Error InvalidProtobuf() {
  return Make(ErrorCode::kInvalidProtobuf, "protobuf encoding was invalid");
}

Error CiphertextTooShort(size_t length) {
  return Make(ErrorCode::kCiphertextTooShort,
              "ciphertext serialized bytes were too short " +
                  Angle(std::to_string(length)));
}

Error LegacyCiphertextVersion(uint8_t version) {
  return Make(ErrorCode::kLegacyCiphertextVersion,
              "ciphertext version was too old " +
                  Angle(std::to_string(version)));
}

Error UnrecognizedCiphertextVersion(uint8_t version) {
  return Make(ErrorCode::kUnrecognizedCiphertextVersion,
              "ciphertext version was unrecognized " +
                  Angle(std::to_string(version)));
}

Error UnrecognizedMessageVersion(uint32_t version) {
  return Make(ErrorCode::kUnrecognizedMessageVersion,
              "unrecognized message version " + Angle(std::to_string(version)));
}

Error SignatureValidationFailed() {
  return Make(ErrorCode::kSignatureValidationFailed,
              "invalid signature detected");
}

Error UntrustedIdentity(std::string_view address) {
  return Make(ErrorCode::kUntrustedIdentity,
              "untrusted identity for address " + std::string(address));
}

Error InvalidPreKeyId() {
  return Make(ErrorCode::kInvalidPreKeyId, "invalid prekey identifier");
}

Error InvalidSignedPreKeyId() {
  return Make(ErrorCode::kInvalidSignedPreKeyId,
              "invalid signed prekey identifier");
}

Error InvalidKyberPreKeyId() {
  return Make(ErrorCode::kInvalidKyberPreKeyId,
              "invalid Kyber prekey identifier");
}

Error InvalidMacKeyLength(size_t length) {
  return Make(ErrorCode::kInvalidMacKeyLength,
              "invalid MAC key length " + Angle(std::to_string(length)));
}

Error SessionNotFound(std::string_view address) {
  return Make(ErrorCode::kSessionNotFound,
              "session with " + std::string(address) + " not found");
}

Error InvalidSession(std::string_view what) {
  return Make(ErrorCode::kInvalidSessionStructure,
              "invalid session: " + std::string(what));
}

Error DuplicatedMessage(uint32_t chain_index, uint32_t counter) {
  return Make(ErrorCode::kDuplicatedMessage,
              "message with old counter " + std::to_string(chain_index) +
                  " / " + std::to_string(counter));
}

Error InvalidMessage(MessageType type, std::string_view reason) {
  return Make(ErrorCode::kInvalidMessage,
              "invalid " + std::string(MessageTypeName(type)) +
                  " message: " + std::string(reason));
}

}  // namespace errors
}  // namespace velmo::proto
