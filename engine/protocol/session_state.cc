#include "protocol/session_state.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "protocol/log.h"

namespace velmo::proto {
namespace {

// Reads a 32-byte chain key from an optional stored ChainKey.
Result<ChainKeyValue> ReadChainKey(const std::optional<ChainKey>& stored,
                                   const char* missing, const char* invalid) {
  if (!stored) {
    return errors::InvalidSession(missing);
  }
  if (stored->key.size() != 32) {
    return errors::InvalidSession(invalid);
  }
  ChainKeyValue out;
  std::memcpy(out.key.data(), stored->key.data(), 32);
  out.index = stored->index;
  return out;
}

ChainKey ToStored(const ChainKeyValue& value) {
  ChainKey out;
  out.index = value.index;
  out.key.assign(value.key);
  return out;
}

template <size_t N>
bool CopyExact(const SecretBytes& from, crypto::SecretArray<N>* to) {
  if (from.size() != N) return false;
  std::memcpy(to->data(), from.data(), N);
  return true;
}

}  // namespace

uint32_t SessionVersion(const SessionStructure& state) {
  return state.session_version == 0 ? 2 : state.session_version;
}

Result<PublicKey> LocalIdentityKey(const SessionStructure& state) {
  Result<PublicKey> key = DecodePublicKey(state.local_identity_public);
  if (!key.ok()) return errors::InvalidSession("invalid local identity key");
  return key;
}

Result<std::optional<PublicKey>> RemoteIdentityKey(
    const SessionStructure& state) {
  if (state.remote_identity_public.empty()) {
    return std::optional<PublicKey>();
  }
  Result<PublicKey> key = DecodePublicKey(state.remote_identity_public);
  if (!key.ok()) return errors::InvalidSession("invalid remote identity key");
  return std::optional<PublicKey>(std::move(*key));
}

Result<ChainKeyValue> SenderChainKey(const SessionStructure& state) {
  if (!state.sender_chain) {
    return errors::InvalidSession("missing sender chain");
  }
  return ReadChainKey(state.sender_chain->chain_key, "missing sender chain key",
                      "invalid sender chain key");
}

Result<PrivateKey> SenderRatchetPrivateKey(const SessionStructure& state) {
  if (!state.sender_chain) {
    return errors::InvalidSession("missing sender chain");
  }
  Result<PrivateKey> key =
      DecodePrivateKey(state.sender_chain->sender_ratchet_key_private);
  if (!key.ok()) {
    return errors::InvalidSession("invalid sender chain private ratchet key");
  }
  return key;
}

Result<PublicKey> SenderRatchetKey(const SessionStructure& state) {
  if (!state.sender_chain) {
    return errors::InvalidSession("missing sender chain");
  }
  Result<PublicKey> key = DecodePublicKey(state.sender_chain->sender_ratchet_key);
  if (!key.ok()) {
    return errors::InvalidSession("invalid sender chain ratchet key");
  }
  return key;
}

void SetSenderChain(SessionStructure& state, const KeyPair& ratchet,
                    const ChainKeyValue& chain_key) {
  Chain chain;
  chain.sender_ratchet_key.assign(ratchet.public_key.Encode());
  chain.sender_ratchet_key_private.assign(ratchet.private_key.bytes());
  chain.chain_key = ToStored(chain_key);
  state.sender_chain = std::move(chain);
}

void SetSenderChainKey(SessionStructure& state,
                       const ChainKeyValue& chain_key) {
  state.sender_chain.value().chain_key = ToStored(chain_key);
}

Result<Chain*> FindReceiverChain(SessionStructure& state,
                                 const PublicKey& their_ratchet_key) {
  for (Chain& chain : state.receiver_chains) {
    Result<PublicKey> key = DecodePublicKey(chain.sender_ratchet_key);
    if (!key.ok()) {
      return errors::InvalidSession("invalid receiver chain ratchet key");
    }
    if (key->Equals(their_ratchet_key)) {
      return &chain;
    }
  }
  return static_cast<Chain*>(nullptr);
}

Result<ChainKeyValue> ReceiverChainKey(const Chain& chain) {
  return ReadChainKey(chain.chain_key, "missing receiver chain key",
                      "invalid receiver chain key");
}

void SetReceiverChainKey(Chain& chain, const ChainKeyValue& chain_key) {
  chain.chain_key = ToStored(chain_key);
}

void AddReceiverChain(SessionStructure& state,
                      const PublicKey& their_ratchet_key,
                      const ChainKeyValue& chain_key) {
  Chain& chain = state.receiver_chains.emplace_back();
  chain.sender_ratchet_key.assign(their_ratchet_key.Encode());
  chain.chain_key = ToStored(chain_key);
  if (state.receiver_chains.size() > kMaxReceiverChains) {
    if (log::Enabled(log::Level::kInfo)) {
      ByteView base = state.sender_chain
                          ? state.sender_chain->sender_ratchet_key.view()
                          : ByteView();
      log::Write(log::Level::kInfo,
                 "Trimming excessive receiver_chain for session with base "
                 "key " + Hex(base.data(), base.size()) + ", chain count: " +
                     std::to_string(state.receiver_chains.size()));
    }
    state.receiver_chains.erase(state.receiver_chains.begin());
  }
}

void KeepMessageKey(Chain& chain, uint32_t index, ByteView seed) {
  std::vector<MessageKey> one(1);
  one[0].index = index;
  one[0].seed.assign(seed);
  KeepMessageKeys(chain, std::move(one));
}

void KeepMessageKeys(Chain& chain, std::vector<MessageKey> skipped) {
  // Only the newest 2000 of old and new together survive; drop the rest
  // before moving anything.
  if (skipped.size() > kMaxMessageKeys) {
    skipped.erase(skipped.begin(),
                  skipped.end() - static_cast<ptrdiff_t>(kMaxMessageKeys));
  }
  size_t keep_old = std::min(chain.message_keys.size(),
                             kMaxMessageKeys - skipped.size());
  chain.message_keys.resize(keep_old);
  chain.message_keys.insert(chain.message_keys.begin(),
                            std::make_move_iterator(skipped.rbegin()),
                            std::make_move_iterator(skipped.rend()));
}

Result<std::optional<KeptMessageKey>> TakeMessageKey(Chain& chain,
                                                     uint32_t index) {
  auto it = chain.message_keys.begin();
  while (it != chain.message_keys.end() && it->index != index) ++it;
  if (it == chain.message_keys.end()) {
    return std::optional<KeptMessageKey>();
  }
  MessageKey entry = std::move(*it);
  chain.message_keys.erase(it);
  if (!entry.seed.empty()) {
    return std::optional<KeptMessageKey>(std::move(entry.seed));
  }
  ExplicitMessageKeys keys;
  if (!CopyExact(entry.cipher_key, &keys.cipher_key)) {
    return errors::InvalidSession("invalid message cipher key");
  }
  if (!CopyExact(entry.mac_key, &keys.mac_key)) {
    return errors::InvalidSession("invalid message MAC key");
  }
  if (!CopyExact(entry.iv, &keys.iv)) {
    return errors::InvalidSession("invalid message IV");
  }
  return std::optional<KeptMessageKey>(std::move(keys));
}

Result<std::optional<PublicKey>> PendingPreKeyBaseKey(
    const SessionStructure& state) {
  if (!state.pending_pre_key) {
    return std::optional<PublicKey>();
  }
  Result<PublicKey> key = DecodePublicKey(state.pending_pre_key->base_key);
  if (!key.ok()) {
    return errors::InvalidSession("invalid pending PreKey message base key");
  }
  return std::optional<PublicKey>(std::move(*key));
}

void ClearPendingPreKey(SessionStructure& state) {
  state.pending_pre_key.reset();
  state.pending_kyber_pre_key.reset();
}

bool IsUsableForSending(const SessionStructure& state, uint64_t now_seconds) {
  if (!state.sender_chain) {
    return false;
  }
  if (!state.pending_pre_key) {
    return true;
  }
  // Written so that a timestamp near the top of the range cannot wrap.
  uint64_t created = state.pending_pre_key->timestamp;
  return now_seconds <= created ||
         now_seconds - created <= kMaxUnacknowledgedSessionAgeSeconds;
}

void ArchiveCurrentState(RecordStructure& record, SessionStructure fresh) {
  if (record.current_session) {
    if (record.previous_sessions.size() >= kMaxArchivedStates) {
      record.previous_sessions.pop_back();
    }
    ClearPendingPreKey(*record.current_session);
    record.previous_sessions.insert(record.previous_sessions.begin(),
                                    SharedBytes(Encode(*record.current_session)));
  }
  record.current_session = std::move(fresh);
}

Result<SessionStructure> ArchivedState(const RecordStructure& record,
                                       size_t i) {
  return ReadArchivedSession(record.previous_sessions.at(i));
}

void PromoteArchivedState(RecordStructure& record, size_t i,
                          SessionStructure updated) {
  record.previous_sessions.erase(record.previous_sessions.begin() + i);
  ArchiveCurrentState(record, std::move(updated));
}

}  // namespace velmo::proto
