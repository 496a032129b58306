#include "protocol/pq/chain.h"

#include <string_view>

#include "crypto/hkdf.h"

namespace velmo::pq {

namespace {

constexpr std::string_view kStartLabel = "Signal PQ Ratchet V1 Chain  Start";
constexpr std::string_view kAddEpochLabel = "Signal PQ Ratchet V1 Chain Add Epoch";
constexpr std::string_view kNextLabel = "Signal PQ Ratchet V1 Chain Next";

constexpr uint8_t kZeroSalt[32] = {};

ByteView Text(std::string_view s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

uint32_t ReadBe32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) |
         (uint32_t{p[2]} << 8) | p[3];
}

// Splits 96 bytes of key material into the next root and one epoch: the
// half at 32 + 32 * direction sends, the other receives.
EpochRecord SplitEpoch(const SecretArray<96>& okm, uint32_t direction,
                       SecretBytes* next_root) {
  const uint8_t* send = okm.bytes + 32 + 32 * direction;
  const uint8_t* recv = okm.bytes + 32 + 32 * (1 - direction);
  next_root->assign(okm.bytes, okm.bytes + 32);
  EpochRecord e;
  e.send.emplace().next.assign(send, send + 32);
  e.recv.emplace().next.assign(recv, recv + 32);
  return e;
}

// NextKey steps one direction's chain: ctr + 1, then
// HKDF(zero salt; next; BE32(ctr) || label; 64) gives the new chain key and
// the key for index ctr. The caller has checked that ctr can still grow.
MessageKey NextKey(EpochDirectionRecord& d) {
  d.ctr++;
  Bytes info = {static_cast<uint8_t>(d.ctr >> 24),
                static_cast<uint8_t>(d.ctr >> 16),
                static_cast<uint8_t>(d.ctr >> 8), static_cast<uint8_t>(d.ctr)};
  info.insert(info.end(), kNextLabel.begin(), kNextLabel.end());
  SecretArray<64> okm = crypto::HkdfSha256<64>(kZeroSalt, d.next, info);
  std::copy(okm.bytes, okm.bytes + 32, d.next.begin());
  MessageKey key;
  std::copy(okm.bytes + 32, okm.bytes + 64, key.bytes);
  return key;
}

void AppendKept(SecretBytes& prev, uint32_t counter, const MessageKey& key) {
  prev.push_back(static_cast<uint8_t>(counter >> 24));
  prev.push_back(static_cast<uint8_t>(counter >> 16));
  prev.push_back(static_cast<uint8_t>(counter >> 8));
  prev.push_back(static_cast<uint8_t>(counter));
  prev.insert(prev.end(), key.bytes, key.bytes + 32);
}

// Removes kept entry `i` by moving the last entry into its place: the order
// of `prev` is part of the stored state, so this is the one way to do it.
void RemoveKept(SecretBytes& prev, size_t i) {
  const size_t last = prev.size() / kKeptKeyBytes - 1;
  if (i != last) {
    std::copy(prev.begin() + last * kKeptKeyBytes, prev.end(),
              prev.begin() + i * kKeptKeyBytes);
  }
  crypto::secure_wipe(prev.data() + last * kKeptKeyBytes, kKeptKeyBytes);
  prev.resize(last * kKeptKeyBytes);
}

uint64_t FirstEpoch(const ChainRecord& chain) {
  return chain.current_epoch - (chain.links.size() - 1);
}

EpochRecord* FindEpoch(ChainRecord& chain, uint64_t epoch) {
  const uint64_t first = FirstEpoch(chain);
  if (epoch < first || epoch > chain.current_epoch) {
    return nullptr;
  }
  return &chain.links[epoch - first];
}

bool DirectionIsWellFormed(const std::optional<EpochDirectionRecord>& d) {
  return d && (d->next.empty() || d->next.size() == kChainKeyBytes) &&
         d->prev.size() % kKeptKeyBytes == 0;
}

}  // namespace

ChainRecord StartChain(ByteView auth_key, uint32_t direction,
                       const std::optional<ChainParamsRecord>& params) {
  ChainRecord chain;
  chain.direction = direction;
  chain.params = params;
  SecretArray<96> okm =
      crypto::HkdfSha256<96>(kZeroSalt, auth_key, Text(kStartLabel));
  chain.links.push_back(SplitEpoch(okm, direction, &chain.next_root));
  return chain;
}

bool ChainIsWellFormed(const ChainRecord& chain) {
  if (chain.direction > 1 || chain.next_root.size() != kChainKeyBytes ||
      chain.links.empty() || chain.links.size() - 1 > chain.current_epoch) {
    return false;
  }
  for (const EpochRecord& e : chain.links) {
    if (!DirectionIsWellFormed(e.send) || !DirectionIsWellFormed(e.recv)) {
      return false;
    }
  }
  return true;
}

Status AddEpoch(ChainRecord& chain, uint64_t epoch, ByteView epoch_secret) {
  if (chain.current_epoch == UINT64_MAX || epoch != chain.current_epoch + 1) {
    return errors::EpochOutOfRange(epoch);
  }
  SecretArray<96> okm = crypto::HkdfSha256<96>(chain.next_root, epoch_secret,
                                               Text(kAddEpochLabel));
  chain.links.push_back(SplitEpoch(
      okm, static_cast<uint32_t>(chain.direction), &chain.next_root));
  chain.current_epoch = epoch;
  return {};
}

Result<IndexedKey> SendKey(ChainRecord& chain, uint64_t epoch) {
  if (epoch < chain.send_epoch) {
    return errors::SendKeyEpochDecreased(chain.send_epoch, epoch);
  }
  if (FindEpoch(chain, epoch) == nullptr) {
    return errors::EpochOutOfRange(epoch);
  }
  if (epoch > chain.send_epoch) {
    chain.send_epoch = epoch;
    // Keep epoch - 1 for late messages from the peer, but never send on it
    // again.
    const uint64_t first = FirstEpoch(chain);
    if (epoch - 1 > first) {
      chain.links.erase(chain.links.begin(),
                        chain.links.begin() + (epoch - 1 - first));
    }
    if (EpochRecord* before = FindEpoch(chain, epoch - 1);
        before != nullptr && before->send) {
      before->send->next.clear();
    }
  }
  EpochRecord* e = FindEpoch(chain, epoch);
  if (!e->send || e->send->next.empty() || e->send->ctr == UINT32_MAX) {
    // A retired or exhausted send chain gives no more keys.
    return errors::EpochOutOfRange(epoch);
  }
  MessageKey key = NextKey(*e->send);
  return IndexedKey{e->send->ctr, std::move(key)};
}

Result<MessageKey> RecvKey(ChainRecord& chain, uint64_t epoch, uint32_t index) {
  EpochRecord* e = FindEpoch(chain, epoch);
  if (e == nullptr || !e->recv) {
    return errors::EpochOutOfRange(epoch);
  }
  EpochDirectionRecord& d = *e->recv;
  const uint64_t max_jump = chain.params && chain.params->max_jump != 0
                                ? chain.params->max_jump
                                : kDefaultMaxJump;
  const uint64_t window = chain.params && chain.params->max_ooo_keys != 0
                              ? chain.params->max_ooo_keys
                              : kDefaultMaxOooKeys;
  const uint64_t i = index;
  const uint64_t j = d.ctr;

  if (i == j) {
    return errors::KeyAlreadyRequested(index);
  }
  if (i < j) {
    if (i + window < j) {
      return errors::KeyTrimmed(index);
    }
    for (size_t at = 0; at < d.prev.size() / kKeptKeyBytes; at++) {
      const uint8_t* entry = d.prev.data() + at * kKeptKeyBytes;
      if (ReadBe32(entry) == index) {
        MessageKey key;
        std::copy(entry + 4, entry + kKeptKeyBytes, key.bytes);
        RemoveKept(d.prev, at);
        return key;
      }
    }
    return errors::KeyAlreadyRequested(index);
  }

  if (i - j > max_jump) {
    return errors::KeyJump(d.ctr, index);
  }
  if (d.next.empty()) {
    return errors::EpochOutOfRange(epoch);
  }
  if (j + window < i) {
    crypto::secure_wipe(d.prev.data(), d.prev.size());
    d.prev.clear();
  }
  while (d.ctr + uint64_t{1} < i) {
    MessageKey skipped = NextKey(d);
    if (i - d.ctr <= window) {
      AppendKept(d.prev, d.ctr, skipped);
    }
  }
  // Past about 1.1 windows' worth of entries, drop those that have fallen
  // out of the window.
  if (d.prev.size() >= (window * 11 / 10) * kKeptKeyBytes + kKeptKeyBytes &&
      d.ctr > window) {
    const uint64_t oldest = d.ctr - window;
    for (size_t at = 0; at < d.prev.size() / kKeptKeyBytes;) {
      if (ReadBe32(d.prev.data() + at * kKeptKeyBytes) < oldest) {
        RemoveKept(d.prev, at);
      } else {
        at++;
      }
    }
  }
  return NextKey(d);
}

}  // namespace velmo::pq
