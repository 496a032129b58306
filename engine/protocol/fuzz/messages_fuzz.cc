// Feeds arbitrary bytes to both wire-message readers. A message that reads
// is checked against a MAC key (it must simply say no) and, rebuilt from its
// fields, must read back to the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/messages.h"

namespace {

using namespace velmo::proto;

const uint8_t kKeyBytes[32] = {1, 2, 3};

PublicKey FixedKey(uint8_t fill) {
  uint8_t u[32];
  for (uint8_t& b : u) b = fill;
  return PublicKey(std::span<const uint8_t, 32>(u));
}

void CheckOrdinary(const SignalMessage& m) {
  PublicKey a = FixedKey(1), b = FixedKey(2);
  (void)VerifyMac(m, a, b, kKeyBytes);
  Result<Bytes> rebuilt = BuildSignalMessage(
      {m.message_version, m.ratchet_key, m.counter, m.previous_counter,
       m.ciphertext, m.pq_ratchet},
      kKeyBytes, a, b);
  if (!rebuilt.ok()) abort();
  Result<SignalMessage> again = ReadSignalMessage(*rebuilt);
  if (!again.ok() || again->counter != m.counter ||
      again->previous_counter != m.previous_counter ||
      again->ciphertext != m.ciphertext || again->pq_ratchet != m.pq_ratchet ||
      !again->ratchet_key.Equals(m.ratchet_key) ||
      !VerifyMac(*again, a, b, kKeyBytes).value()) {
    abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmo::crypto::ByteView in(data, size);
  Result<SignalMessage> ordinary = ReadSignalMessage(in);
  if (ordinary.ok()) CheckOrdinary(*ordinary);

  Result<PreKeySignalMessage> pre_key = ReadPreKeySignalMessage(in);
  if (pre_key.ok()) {
    const PreKeySignalMessage& m = *pre_key;
    CheckOrdinary(m.message);
    Bytes rebuilt = BuildPreKeySignalMessage(
        {m.message_version, m.registration_id, m.pre_key_id,
         m.signed_pre_key_id, m.kyber_pre_key_id, m.kyber_ciphertext,
         m.base_key, m.identity_key, m.message.serialized});
    Result<PreKeySignalMessage> again = ReadPreKeySignalMessage(rebuilt);
    if (!again.ok() || again->pre_key_id != m.pre_key_id ||
        again->kyber_pre_key_id != m.kyber_pre_key_id ||
        again->kyber_ciphertext != m.kyber_ciphertext ||
        again->registration_id != m.registration_id ||
        again->message.serialized != m.message.serialized) {
      abort();
    }
  }
  return 0;
}
