#include "protocol/pq/ratchet.h"

#include "protocol/pq/exchange.h"
#include "protocol/pq/message.h"
#include "protocol/pq/records.h"

namespace velmo::pq {

namespace {

constexpr size_t kAuthKeyBytes = 32;

// The state in working form, every part checked.
struct Working {
  std::optional<VersionNegotiationRecord> version_negotiation;
  std::optional<ChainRecord> chain;
  std::optional<V1State> inner;
};

Result<Working> Load(ByteView bytes) {
  PqRatchetStateRecord record;
  if (!Decode(bytes, &record)) {
    return errors::StateDecode();
  }
  Working w;
  w.version_negotiation = std::move(record.version_negotiation);
  if (w.version_negotiation && w.version_negotiation->direction > 1) {
    return errors::StateDecode();
  }
  w.chain = std::move(record.chain);
  if (w.chain && !ChainIsWellFormed(*w.chain)) {
    return errors::StateDecode();
  }
  if (record.inner) {
    w.inner = FromRecord(*record.inner);
    if (!w.inner) {
      return errors::StateDecode();
    }
  }
  return w;
}

SecretBytes Store(const Working& w) {
  PqRatchetStateRecord record;
  record.version_negotiation = w.version_negotiation;
  record.chain = w.chain;
  if (w.inner) {
    record.inner = ToRecord(*w.inner);
  }
  return Encode(record);
}

ChainRecord StartFrom(const VersionNegotiationRecord& v) {
  return StartChain(v.auth_key, static_cast<uint32_t>(v.direction),
                    v.chain_params);
}

SecretBytes Copy(ByteView bytes) { return SecretBytes(bytes.begin(), bytes.end()); }

}  // namespace

Result<SecretBytes> CreateState(const CreateParams& p) {
  if (p.version == 0) {
    return SecretBytes();
  }
  if (p.version > 1) {
    return errors::InvalidParams("unsupported version " +
                                 std::to_string(p.version));
  }
  if (p.direction > 1) {
    return errors::InvalidParams("direction " + std::to_string(p.direction));
  }
  if (p.auth_key.size() != kAuthKeyBytes) {
    return errors::InvalidParams("authentication key of " +
                                 std::to_string(p.auth_key.size()) + " bytes");
  }
  Working w;
  VersionNegotiationRecord& v = w.version_negotiation.emplace();
  v.auth_key.assign(p.auth_key.begin(), p.auth_key.end());
  v.direction = p.direction;
  v.min_version = p.min_version;
  // The defaults are written as zeros, so a default state does not spell
  // them out.
  ChainParamsRecord& params = v.chain_params.emplace();
  if (p.max_jump != kDefaultMaxJump || p.max_ooo_keys != kDefaultMaxOooKeys) {
    params = {p.max_jump, p.max_ooo_keys};
  }
  w.inner = InitialState(p.direction, p.auth_key);
  return Store(w);
}

Result<SendResult> Send(ByteView state, crypto::Rng& rng) {
  Result<Working> loaded = Load(state);
  if (!loaded.ok()) {
    return loaded.error();
  }
  Working& w = *loaded;
  if (!w.inner) {
    return SendResult{Copy(state), {}, std::nullopt};
  }
  const uint64_t s = EpochOf(*w.inner);
  SendOutcome out = SendStep(*w.inner, rng);
  Message message{s, 0, out.type, out.chunk};

  if (!w.chain) {
    if (!w.version_negotiation) {
      return errors::ChainNotAvailable();
    }
    if (w.version_negotiation->min_version == 0) {
      // The peer may not run the ratchet at all: until it shows that it
      // does, messages carry no key. No epoch secret can arise before then,
      // since the exchange needs the peer's messages to get that far.
      if (out.secret) {
        return errors::ChainNotAvailable();
      }
      return SendResult{Store(w), EncodeMessage(message), std::nullopt};
    }
    w.chain = StartFrom(*w.version_negotiation);
  }
  if (out.secret) {
    if (Status added = AddEpoch(*w.chain, out.secret->epoch, out.secret->secret);
        !added.ok()) {
      return added.error();
    }
  }
  if (s == 0) {
    return errors::EpochOutOfRange(s);
  }
  Result<IndexedKey> key = SendKey(*w.chain, s - 1);
  if (!key.ok()) {
    return key.error();
  }
  message.index = key->index;
  return SendResult{Store(w), EncodeMessage(message), std::move(key->key)};
}

Result<ReceiveResult> Receive(ByteView state, ByteView message) {
  Result<Working> loaded = Load(state);
  if (!loaded.ok()) {
    return loaded.error();
  }
  Working& w = *loaded;
  if (w.inner && (message.empty() || message[0] == 0)) {
    if (!w.version_negotiation) {
      return errors::VersionMismatch();
    }
    if (w.version_negotiation->min_version >= 1) {
      return errors::MinimumVersion();
    }
    // The peer runs no post-quantum ratchet: neither do we, from now on.
    return ReceiveResult{SecretBytes(), std::nullopt};
  }
  if (!w.inner || message.empty() || message[0] > kVersion1) {
    // A later version we cannot read, or a state without the ratchet.
    return ReceiveResult{Copy(state), std::nullopt};
  }

  Result<Message> decoded = DecodeMessage(message);
  if (!decoded.ok()) {
    return decoded.error();
  }
  const Message& m = *decoded;
  Result<std::optional<EpochSecretOf>> secret = ReceiveStep(*w.inner, m);
  if (!secret.ok()) {
    return secret.error();
  }
  if (!w.chain) {
    if (!w.version_negotiation) {
      return errors::ChainNotAvailable();
    }
    w.chain = StartFrom(*w.version_negotiation);
  }
  if (const auto& s = *secret) {
    if (Status added = AddEpoch(*w.chain, s->epoch, s->secret); !added.ok()) {
      return added.error();
    }
  }
  std::optional<MessageKey> key;
  if (m.epoch != 1 || m.index != 0) {
    if (m.epoch == 0) {
      return errors::EpochOutOfRange(0);
    }
    Result<MessageKey> k = RecvKey(*w.chain, m.epoch - 1, m.index);
    if (!k.ok()) {
      return k.error();
    }
    key = std::move(*k);
  }
  // The first version-1 message settles the negotiation.
  w.version_negotiation.reset();
  return ReceiveResult{Store(w), std::move(key)};
}

}  // namespace velmo::pq
