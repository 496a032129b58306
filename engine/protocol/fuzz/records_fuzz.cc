// Feeds arbitrary bytes to every stored-record reader. A record that reads
// must write out to bytes that read back to the same bytes again (writing
// drops unknown fields and settles repeated scalars, so only the second round
// must be stable), and the session-state reads must not misbehave on it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "protocol/keys.h"
#include "protocol/records.h"
#include "protocol/session_state.h"

namespace {

using namespace velmo::proto;

template <class M>
void RoundTrip(velmo::crypto::ByteView in) {
  M first;
  if (!Decode(in, &first)) return;
  velmo::crypto::SecretBytes once = Encode(first);
  M second;
  if (!Decode(once, &second)) abort();
  if (Encode(second) != once) abort();
}

void ExerciseState(SessionStructure& state) {
  (void)SessionVersion(state);
  (void)LocalIdentityKey(state);
  (void)RemoteIdentityKey(state);
  (void)SenderChainKey(state);
  (void)SenderRatchetKey(state);
  (void)SenderRatchetPrivateKey(state);
  (void)PendingPreKeyBaseKey(state);
  (void)IsUsableForSending(state, 1767225600);
  const uint8_t zeros[32] = {};
  PublicKey probe{std::span<const uint8_t, 32>(zeros)};
  Result<Chain*> chain = FindReceiverChain(state, probe);
  for (Chain& c : state.receiver_chains) {
    (void)ReceiverChainKey(c);
    if (!c.message_keys.empty()) {
      (void)TakeMessageKey(c, c.message_keys.front().index);
    }
  }
  (void)chain;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  velmo::crypto::ByteView in(data, size);
  RoundTrip<RecordStructure>(in);
  RoundTrip<SessionStructure>(in);
  RoundTrip<PreKeyRecordStructure>(in);
  RoundTrip<SignedPreKeyRecordStructure>(in);
  RoundTrip<IdentityKeyPairStructure>(in);
  (void)ReadIdentityKeyPair(in);
  (void)DecodePublicKey(in);
  (void)DecodeKyberPublicKey(in);
  (void)DecodeKyberSecretKey(in);

  Result<RecordStructure> record = ReadSessionRecord(in);
  if (record.ok()) {
    if (record->current_session) ExerciseState(*record->current_session);
    for (size_t i = 0; i < record->previous_sessions.size(); i++) {
      Result<SessionStructure> archived = ArchivedState(*record, i);
      if (archived.ok()) {
        ExerciseState(*archived);
        PromoteArchivedState(*record, i, std::move(*archived));
        break;
      }
    }
    ArchiveCurrentState(*record, SessionStructure());
    (void)Encode(*record);
  }
  return 0;
}
