#include "api/engine_error.h"

#include <utility>

namespace velmo::api {
namespace {

struct KindByTemplate {
  std::string_view text;
  ErrorKind kind;
};

// The message type in "invalid {} message: {}" is spelled out: a bare {} there
// would also take texts such as "invalid argument: ..." whose inserted reason
// happens to contain " message: ".
constexpr KindByTemplate kKindsByTemplate[] = {
    {"protobuf encoding was invalid", ErrorKind::InvalidMessage},
    {"ciphertext serialized bytes were too short <{}>",
     ErrorKind::InvalidMessage},
    {"ciphertext version was too old <{}>", ErrorKind::InvalidMessage},
    {"ciphertext version was unrecognized <{}>", ErrorKind::InvalidMessage},
    {"unrecognized message version <{}>", ErrorKind::InvalidMessage},
    {"session with {} not found", ErrorKind::NoSession},
    {"invalid session: {}", ErrorKind::NoSession},
    {"invalid Whisper message: {}", ErrorKind::InvalidMessage},
    {"invalid PreKey message: {}", ErrorKind::InvalidMessage},
    {"message with old counter {} / {}", ErrorKind::DuplicateMessage},
    {"untrusted identity for address {}", ErrorKind::UntrustedIdentity},
    {"invalid prekey identifier", ErrorKind::InvalidPreKeyId},
    {"invalid signed prekey identifier", ErrorKind::InvalidPreKeyId},
    {"invalid Kyber prekey identifier", ErrorKind::InvalidPreKeyId},
    {"no key type identifier", ErrorKind::InvalidKey},
    {"bad key type <{}>", ErrorKind::InvalidKey},
    {"bad key length <{}> for key with type <{}>", ErrorKind::InvalidKey},
    {"invalid signature detected", ErrorKind::InvalidKey},
    {"bad KEM key type <{}>", ErrorKind::InvalidKey},
    {"invalid argument: {}", ErrorKind::InvalidArgument},
    // The remaining templates are kind Other, like every unlisted failure;
    // they need no row.
};

// Matches `text` against `pattern`, where each {} takes one or more bytes.
bool MatchesTemplate(std::string_view pattern, std::string_view text) {
  size_t hole = pattern.find("{}");
  if (hole == std::string_view::npos) {
    return pattern == text;
  }
  std::string_view head = pattern.substr(0, hole);
  std::string_view rest = pattern.substr(hole + 2);
  if (text.substr(0, head.size()) != head) {
    return false;
  }
  text.remove_prefix(head.size());
  for (size_t taken = 1; taken <= text.size(); taken++) {
    if (MatchesTemplate(rest, text.substr(taken))) {
      return true;
    }
  }
  return false;
}

}  // namespace

ErrorKind ErrorKindOfProtocolFailure(std::string_view text) {
  for (const KindByTemplate& row : kKindsByTemplate) {
    if (MatchesTemplate(row.text, text)) {
      return row.kind;
    }
  }
  return ErrorKind::Other;
}

EngineError EngineErrorFromProtocolFailure(std::string text) {
  ErrorKind kind = ErrorKindOfProtocolFailure(text);
  return EngineError{kind, std::move(text)};
}

}  // namespace velmo::api
