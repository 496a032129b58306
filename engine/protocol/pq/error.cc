#include "protocol/pq/error.h"

namespace velmo::pq::errors {

Error StateDecode() { return {ErrorCode::kStateDecode, "state decode failed"}; }

Error MessageDecode() {
  return {ErrorCode::kMessageDecode, "message decode failed"};
}

Error MacVerification() {
  return {ErrorCode::kMacVerification, "MAC verification failed"};
}

Error EpochOutOfRange(uint64_t epoch) {
  return {ErrorCode::kEpochOutOfRange,
          "epoch not in valid range: " + std::to_string(epoch)};
}

Error VersionMismatch() {
  return {ErrorCode::kVersionMismatch, "Version mismatch after negotiation"};
}

Error MinimumVersion() { return {ErrorCode::kMinimumVersion, "Minimum version"}; }

Error KeyJump(uint32_t from, uint32_t to) {
  return {ErrorCode::kKeyJump, "Key jump: " + std::to_string(from) + " - " +
                                   std::to_string(to)};
}

Error KeyTrimmed(uint32_t index) {
  return {ErrorCode::kKeyTrimmed, "Key trimmed: " + std::to_string(index)};
}

Error KeyAlreadyRequested(uint32_t index) {
  return {ErrorCode::kKeyAlreadyRequested,
          "Key already requested: " + std::to_string(index)};
}

Error ErroneousData() {
  return {ErrorCode::kErroneousData,
          "Erroneous data received from remote party"};
}

Error SendKeyEpochDecreased(uint64_t from, uint64_t to) {
  return {ErrorCode::kSendKeyEpochDecreased,
          "Send key epoch decreased (" + std::to_string(from) + " -> " +
              std::to_string(to) + ")"};
}

Error InvalidParams(std::string_view what) {
  return {ErrorCode::kInvalidParams, "Invalid params: " + std::string(what)};
}

Error ChainNotAvailable() {
  return {ErrorCode::kChainNotAvailable, "Chain not available"};
}

}  // namespace velmo::pq::errors
