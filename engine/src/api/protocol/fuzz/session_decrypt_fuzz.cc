// Decryption of untrusted bytes: a message of either kind against a
// session, or a session record from the application's storage against a
// valid message. Every input must end in a result or a protocol error; a
// success must leave records that read back.
#include <cstdint>
#include <cstdlib>

#include "api/protocol/fuzz/session_fixture.h"
#include "protocol/records.h"

namespace {

using velmo::api::fuzz::Mode;
namespace api = velmo::api;
namespace proto = velmo::proto;

const api::fuzz::Fixture& TheFixture() {
  static const api::fuzz::Fixture* f =
      new api::fuzz::Fixture(api::fuzz::MakeFixture());
  return *f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || data[0] >= static_cast<uint8_t>(Mode::kNumModes)) {
    return 0;
  }
  const Mode mode = static_cast<Mode>(data[0]);
  const velmo::crypto::ByteView rest(data + 1, size - 1);
  const api::fuzz::Fixture& f = TheFixture();
  velmo::crypto::SeededRng rng(1);
  const api::StepContext context{rng, 1767225600};

  velmo::store::ProtocolStores stores =
      mode == Mode::kFirstPreKey ? f.fresh_bob : f.established_bob;
  velmo::crypto::ByteView message = rest;
  if (mode == Mode::kSessionRecord) {
    // A self-session record may jump up to 2^32 - 1 keys ahead, by design;
    // the fixed message's counter keeps every jump here small.
    if (!stores.sessions.Load(f.alice_address, rest).ok()) {
      return 0;
    }
    message = f.messages.back().bytes;
  }
  proto::Result<velmo::crypto::SecretBytes> plain =
      mode == Mode::kOrdinary || mode == Mode::kSessionRecord
          ? api::DecryptOrdinary(stores, f.alice_address, message, context)
          : api::DecryptPreKeyMessage(stores, f.alice_address, message,
                                      context);
  if (!plain.ok()) {
    if (plain.error().message.empty())
      std::abort();
    return 0;
  }
  // What would be exported reads back.
  for (const auto& address : stores.sessions.stored()) {
    proto::RecordStructure again;
    if (!proto::Decode(proto::Encode(stores.sessions.at(address)), &again)) {
      std::abort();
    }
  }
  return 0;
}
