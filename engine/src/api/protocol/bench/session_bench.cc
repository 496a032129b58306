// Operations 2, 3 and 16 through the C entry points, called the way the
// Dart side calls them (argument buffer from engine_bytes_new, dispatch,
// reply freed through the engine), each beside the primitives the call
// performs, measured in the same run:
//
//   BM_Encrypt / BM_Decrypt            a 100-byte message in an established
//                                      session, one-session snapshot, on a
//                                      known chain, with a post-quantum step
//                                      that runs no ML-KEM
//   BM_EncryptDecryptPrimitives        their hash and cipher blocks
//   BM_DecryptOpeningAChain            the first message of a turn (the DH
//                                      ratchet step)
//   BM_EncryptKeyGeneration, BM_EncryptFirstEncapsulation,
//   BM_DecryptSecondEncapsulation,
//   BM_DecryptDecapsulation            the four calls that run ML-KEM, once
//                                      each per epoch (messages_per_epoch)
//   BM_ConversationPerMessage          encrypt + decrypt averaged over a
//                                      lossless conversation in turns of three
//   BM_ProcessBundleKyber              operation 16 with a Kyber pre-key
//   BM_ProcessBundleKyberPrimitives    its X25519, XEdDSA, Kyber and HKDF
//   BM_DecryptFirstPreKeyMessage       the receiver's set-up and decryption
//   BM_DecryptFirstPreKeyPrimitives    its primitives
//   BM_EncryptWithSessions/N,
//   BM_DecryptWithSessions/N           the snapshot holding N sessions
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/protocol/tests/dart_side.h"
#include "crypto/aes_cbc.h"
#include "crypto/hkdf.h"
#include "crypto/hmac.h"
#include "crypto/key_encoding.h"
#include "crypto/kyber1024.h"
#include "crypto/x25519.h"
#include "crypto/xeddsa.h"
#include "protocol/pq/records.h"
#include "protocol/pq/tests/conversation.h"
#include "velmo_core.h"

namespace velmo::api {

using crypto::ByteView;
namespace {

using testing::DartSide;

// Arguments encoded once; each call copies them into an engine buffer, as
// the Dart side fills one per call.
class PreparedCall {
 public:
  template <class... A>
  PreparedCall(int32_t op, const A&... args) : op_(op) {
    bridge::ByteWriter w;
    (bridge::Write(w, args), ...);
    args_.assign(w.view().begin(), w.view().end());
  }

  // Run dispatches once and returns the reply's action byte.
  uint8_t Run() const {
    const int32_t len = static_cast<int32_t>(args_.size());
    uint8_t* buf = engine_bytes_new(len);
    std::memcpy(buf, args_.data(), args_.size());
    EngineSyncReply reply = engine_dispatch_sync(op_, buf, len, len);
    const uint8_t action = reply.data[0];
    engine_free_sync_reply(reply.data, reply.len);
    return action;
  }

  size_t size() const { return args_.size(); }

 private:
  int32_t op_;
  std::vector<uint8_t> args_;
};

void Check(uint8_t action, const char* what) {
  if (action != 0)
    throw std::runtime_error(std::string(what) + " failed");
}

Bytes Plaintext() {
  return Bytes(100, 0x61);
}

std::string PqStateName(const DartSide& side, const PeerAddress& peer) {
  const proto::RecordStructure r = side.Session(peer);
  return std::string(
      pq::StateName(pq::testing::InnerOf(r.current_session->pq_ratchet_state)));
}

template <class R>
R Expect(testing::Reply<R> r) {
  if (r.action != 0)
    throw std::runtime_error(r.error.message + r.fault);
  return std::move(r.value);
}

// The calls of one message: its encryption by the sender and its
// decryption by the receiver, with the snapshots each was handed.
struct Step {
  PreparedCall encrypt;
  PreparedCall decrypt;
  StoreSnapshot sender_snapshot;
  StoreSnapshot receiver_snapshot;
  PeerAddress sender;
  PeerAddress receiver;
  EncryptResult message;
  bool opens_chain;  // first of its turn: decryption runs the DH ratchet
};

bool RunsMlKemOnReceipt(const std::string& before, const std::string& after) {
  return (after == "Ct2Sampled" && before != after) ||
         (before == "EkSentCt1Received" && after == "NoHeaderReceived");
}

// Steps of a lossless conversation in turns of three messages, picked by
// what the post-quantum exchange does in them. Steps come from past the
// second epoch, so that the chains have some history.
class Catalogue {
 public:
  enum Kind {
    kPlainEncrypt,         // the sender sends an encapsulation-key chunk
    kPlainDecrypt,         // the receiver collects it, on a known chain
    kRatchetDecrypt,       // no ML-KEM, but the message opens a new chain
    kKeyGeneration,        // the sender samples its ML-KEM key pair
    kFirstEncapsulation,   // the sender encapsulates against the header
    kSecondEncapsulation,  // receipt completes the encapsulation key
    kDecapsulation,        // receipt completes the ciphertext
    kNumKinds,
  };

  Catalogue() {
    Expect(alice_.ProcessBundle(bob_.address(), bob_.Bundle(true, true)));
    DartSide* sides[2] = {&alice_, &bob_};
    uint64_t epoch_at_start = 0;
    int messages_since = 0;
    for (int n = 0; !Complete(); n++) {
      if (n > 20000)
        throw std::logic_error("the conversation lacks a step");
      DartSide& from = *sides[(n / 3) % 2];
      DartSide& to = *sides[1 - (n / 3) % 2];
      const bool opens_chain = n % 3 == 0;
      const bool warm = Epoch() >= 2;
      if (warm && epoch_at_start == 0)
        epoch_at_start = Epoch();
      if (warm)
        messages_since++;

      const std::string send_state =
          n == 0 ? "" : PqStateName(from, to.address());
      StoreSnapshot sender_snapshot = from.Snapshot();
      EncryptResult m = Expect(from.Encrypt(to.address(), Plaintext()));
      const std::string before = to.sessions.contains(from.address())
                                     ? PqStateName(to, from.address())
                                     : "";
      StoreSnapshot receiver_snapshot = to.Snapshot();
      Expect(to.Decrypt(from.address(), m.kind, m.ciphertext));
      const std::string after = PqStateName(to, from.address());
      if (!warm)
        continue;

      auto keep = [&](Kind kind) {
        if (steps_[kind])
          return;
        steps_[kind].reset(
            new Step{PreparedCall(DartSide::kEncrypt, sender_snapshot,
                                  to.address(), SecretBytes(100, 0x61)),
                     PreparedCall(DartSide::kDecrypt, receiver_snapshot,
                                  from.address(), m.kind, m.ciphertext),
                     sender_snapshot, receiver_snapshot, from.address(),
                     to.address(), m, opens_chain});
      };
      if (send_state == "KeysUnsampled")
        keep(kKeyGeneration);
      if (send_state == "HeaderReceived")
        keep(kFirstEncapsulation);
      if (send_state == "HeaderSent")
        keep(kPlainEncrypt);
      const bool kem = RunsMlKemOnReceipt(before, after);
      if (!kem && opens_chain)
        keep(kRatchetDecrypt);
      if (!kem && !opens_chain && send_state == "HeaderSent") {
        keep(kPlainDecrypt);
      }
      if (kem && after == "Ct2Sampled")
        keep(kSecondEncapsulation);
      if (kem && after == "NoHeaderReceived")
        keep(kDecapsulation);
    }
    messages_per_epoch_ =
        static_cast<double>(messages_since) / (Epoch() - epoch_at_start + 1);
  }

  const Step& step(Kind kind) const { return *steps_[kind]; }
  double messages_per_epoch() const { return messages_per_epoch_; }

 private:
  bool Complete() const {
    for (const auto& s : steps_) {
      if (!s)
        return false;
    }
    return true;
  }
  uint64_t Epoch() const {
    if (!alice_.sessions.contains(bob_.address()))
      return 0;
    pq::PqRatchetStateRecord r;
    static_cast<void>(pq::Decode(
        alice_.Session(bob_.address()).current_session->pq_ratchet_state, &r));
    return r.chain ? r.chain->current_epoch : 0;
  }

  DartSide alice_{{"alice", 1}, std::nullopt, 1};
  DartSide bob_{{"bob", 2}, std::nullopt, 1};
  std::unique_ptr<Step> steps_[kNumKinds];
  double messages_per_epoch_ = 0;
};

const Catalogue& Steps() {
  static const Catalogue* c = new Catalogue;
  return *c;
}

void RunCall(benchmark::State& state, const PreparedCall& call) {
  Check(call.Run(), "the call");
  for (auto _ : state) {
    benchmark::DoNotOptimize(call.Run());
  }
  state.counters["argument_bytes"] = call.size();
}

void BM_Encrypt(benchmark::State& state) {
  RunCall(state, Steps().step(Catalogue::kPlainEncrypt).encrypt);
}
BENCHMARK(BM_Encrypt);

void BM_Decrypt(benchmark::State& state) {
  RunCall(state, Steps().step(Catalogue::kPlainDecrypt).decrypt);
}
BENCHMARK(BM_Decrypt);

// The first message of a turn: decryption adds the DH ratchet step (two
// root steps and a fresh ratchet key).
void BM_DecryptOpeningAChain(benchmark::State& state) {
  RunCall(state, Steps().step(Catalogue::kRatchetDecrypt).decrypt);
}
BENCHMARK(BM_DecryptOpeningAChain)->Unit(benchmark::kMicrosecond);

// The four calls whose post-quantum step runs ML-KEM, each once an epoch.
void BM_EncryptKeyGeneration(benchmark::State& state) {
  RunCall(state, Steps().step(Catalogue::kKeyGeneration).encrypt);
  state.counters["messages_per_epoch"] = Steps().messages_per_epoch();
}
BENCHMARK(BM_EncryptKeyGeneration)->Unit(benchmark::kMicrosecond);

void BM_EncryptFirstEncapsulation(benchmark::State& state) {
  RunCall(state, Steps().step(Catalogue::kFirstEncapsulation).encrypt);
}
BENCHMARK(BM_EncryptFirstEncapsulation)->Unit(benchmark::kMicrosecond);

void BM_DecryptSecondEncapsulation(benchmark::State& state) {
  const Step& s = Steps().step(Catalogue::kSecondEncapsulation);
  RunCall(state, s.decrypt);
  state.counters["opens_chain"] = s.opens_chain;
}
BENCHMARK(BM_DecryptSecondEncapsulation)->Unit(benchmark::kMicrosecond);

void BM_DecryptDecapsulation(benchmark::State& state) {
  const Step& s = Steps().step(Catalogue::kDecapsulation);
  RunCall(state, s.decrypt);
  state.counters["opens_chain"] = s.opens_chain;
}
BENCHMARK(BM_DecryptDecapsulation)->Unit(benchmark::kMicrosecond);

// A snapshot with `n` sessions: the one in use and n - 1 more like it.
StoreSnapshot WithSessions(StoreSnapshot s, size_t n) {
  const SecretBytes record = s.sessions.at(0).data;
  for (size_t i = 1; i < n; i++) {
    s.sessions.push_back({{"peer" + std::to_string(i), 1}, record});
  }
  return s;
}

void BM_EncryptWithSessions(benchmark::State& state) {
  const Step& s = Steps().step(Catalogue::kPlainEncrypt);
  RunCall(state, PreparedCall(DartSide::kEncrypt,
                              WithSessions(s.sender_snapshot, state.range(0)),
                              s.receiver, SecretBytes(100, 0x61)));
}
BENCHMARK(BM_EncryptWithSessions)
    ->Arg(1)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond);

void BM_DecryptWithSessions(benchmark::State& state) {
  const Step& s = Steps().step(Catalogue::kPlainDecrypt);
  RunCall(state, PreparedCall(DartSide::kDecrypt,
                              WithSessions(s.receiver_snapshot, state.range(0)),
                              s.sender, s.message.kind, s.message.ciphertext));
}
BENCHMARK(BM_DecryptWithSessions)
    ->Arg(1)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMicrosecond);

// The hash and cipher blocks of one encryption or decryption of 100 bytes:
// the chain step (message-key seed and next chain key), the post-quantum
// chain's next key, the message keys, AES-256-CBC and the MAC.
void BM_EncryptDecryptPrimitives(benchmark::State& state) {
  const SecretBytes chain_key(32, 1);
  const SecretBytes pq_chain(32, 2);
  const Bytes plaintext = Plaintext();
  const Bytes body(60 + 112, 3);  // a message body around the ciphertext
  const uint8_t one = 1, two = 2;
  uint8_t pq_info[4 + 31] = {0, 0, 0, 7};
  std::memcpy(pq_info + 4, "Signal PQ Ratchet V1 Chain Next", 31);
  for (auto _ : state) {
    const crypto::HmacSha256Key chain(chain_key);
    auto seed = chain.Mac(ByteView(&one, 1));
    auto next = chain.Mac(ByteView(&two, 1));
    auto pq_key = crypto::HkdfSha256<64>(ByteView(), pq_chain, pq_info);
    auto keys = crypto::HkdfSha256<80>(
        ByteView(pq_key.data() + 32, 32), seed,
        ByteView(reinterpret_cast<const uint8_t*>("WhisperMessageKeys"), 18));
    Bytes ct = crypto::Aes256CbcEncrypt(
        ByteView(keys.data(), 32), ByteView(keys.data() + 64, 16), plaintext);
    crypto::HmacSha256 mac(
        crypto::HmacSha256Key(ByteView(keys.data() + 32, 32)));
    mac.Update(body);
    mac.Update(ct);
    benchmark::DoNotOptimize(mac.Finish());
    benchmark::DoNotOptimize(next);
  }
}
BENCHMARK(BM_EncryptDecryptPrimitives);

// Encryption and decryption averaged over a lossless conversation in turns
// of three messages: the DH ratchet and every ML-KEM step included.
void BM_ConversationPerMessage(benchmark::State& state) {
  DartSide alice({"alice", 1}, std::nullopt, 1);
  DartSide bob({"bob", 2}, std::nullopt, 1);
  Expect(alice.ProcessBundle(bob.address(), bob.Bundle(true, true)));
  DartSide* sides[2] = {&alice, &bob};
  int n = 0;
  for (auto _ : state) {
    DartSide& from = *sides[(n / 3) % 2];
    DartSide& to = *sides[1 - (n / 3) % 2];
    EncryptResult m = Expect(from.Encrypt(to.address(), Plaintext()));
    Expect(to.Decrypt(from.address(), m.kind, m.ciphertext));
    n++;
  }
}
BENCHMARK(BM_ConversationPerMessage)->Iterations(3000);

void BM_ProcessBundleKyber(benchmark::State& state) {
  DartSide alice({"alice", 1}, std::nullopt, 1);
  DartSide bob({"bob", 2}, std::nullopt, 1);
  const PreparedCall call(DartSide::kProcessBundle, alice.Snapshot(),
                          bob.address(), bob.Bundle(true, true));
  Check(call.Run(), "process_pre_key_bundle");
  for (auto _ : state) {
    benchmark::DoNotOptimize(call.Run());
  }
}
BENCHMARK(BM_ProcessBundleKyber)->Unit(benchmark::kMicrosecond);

// Key material for the primitive benchmarks.
struct Keys {
  crypto::SeededRng rng{5};
  crypto::KeyPair a = crypto::KeyPair::Generate(rng);
  crypto::KeyPair b = crypto::KeyPair::Generate(rng);
  crypto::kyber1024::KeyPair kyber = crypto::kyber1024::GenerateKeyPair(rng);
  Bytes kyber_encoded = crypto::EncodeKyberPublicKey(kyber.public_key);
  crypto::Signature signature_33 =
      crypto::XEdDsaSign(a.private_key, a.public_key.Encode(), rng);
  crypto::Signature signature_1569 =
      crypto::XEdDsaSign(a.private_key, kyber_encoded, rng);
};

// Two key pairs, two signature checks, five agreements (X3DH with a
// one-time pre-key, and the first root step), a Kyber-1024 encapsulation,
// and the set-up's and the root step's HKDF.
void BM_ProcessBundleKyberPrimitives(benchmark::State& state) {
  Keys k;
  crypto::SecretArray<32> shared;
  for (auto _ : state) {
    auto base = crypto::KeyPair::Generate(k.rng);
    auto ratchet = crypto::KeyPair::Generate(k.rng);
    benchmark::DoNotOptimize(crypto::XEdDsaVerify(
        k.a.public_key, k.b.public_key.Encode(), k.signature_33));
    benchmark::DoNotOptimize(crypto::XEdDsaVerify(
        k.a.public_key, k.kyber_encoded, k.signature_1569));
    for (int i = 0; i < 4; i++) {
      benchmark::DoNotOptimize(
          base.private_key.Agree(k.b.public_key, shared.bytes));
    }
    benchmark::DoNotOptimize(
        ratchet.private_key.Agree(k.b.public_key, shared.bytes));
    auto kem = crypto::kyber1024::Encapsulate(k.kyber.public_key, k.rng);
    benchmark::DoNotOptimize(
        crypto::HkdfSha256<96>(ByteView(), shared, shared));
    benchmark::DoNotOptimize(crypto::HkdfSha256<64>(shared, shared, shared));
    benchmark::DoNotOptimize(kem);
  }
}
BENCHMARK(BM_ProcessBundleKyberPrimitives)->Unit(benchmark::kMicrosecond);

void BM_DecryptFirstPreKeyMessage(benchmark::State& state) {
  DartSide alice({"alice", 1}, std::nullopt, 1);
  DartSide bob({"bob", 2}, std::nullopt, 1);
  Expect(alice.ProcessBundle(bob.address(), bob.Bundle(true, true)));
  const EncryptResult first = Expect(alice.Encrypt(bob.address(), Plaintext()));
  const PreparedCall call(DartSide::kDecrypt, bob.Snapshot(), alice.address(),
                          first.kind, first.ciphertext);
  Check(call.Run(), "decrypt_message");
  for (auto _ : state) {
    benchmark::DoNotOptimize(call.Run());
  }
}
BENCHMARK(BM_DecryptFirstPreKeyMessage)->Unit(benchmark::kMicrosecond);

// Four agreements of X3DH, a Kyber-1024 decapsulation, the new chains' two
// agreements and fresh ratchet key, their HKDFs, and the message's blocks.
void BM_DecryptFirstPreKeyPrimitives(benchmark::State& state) {
  Keys k;
  crypto::kyber1024::Encapsulation kem =
      crypto::kyber1024::Encapsulate(k.kyber.public_key, k.rng);
  crypto::SecretArray<32> shared;
  const Bytes plaintext = Plaintext();
  for (auto _ : state) {
    for (int i = 0; i < 6; i++) {
      benchmark::DoNotOptimize(
          k.a.private_key.Agree(k.b.public_key, shared.bytes));
    }
    benchmark::DoNotOptimize(
        crypto::kyber1024::Decapsulate(k.kyber.secret_key, kem.ciphertext));
    auto fresh = crypto::KeyPair::Generate(k.rng);
    benchmark::DoNotOptimize(fresh);
    benchmark::DoNotOptimize(
        crypto::HkdfSha256<96>(ByteView(), shared, shared));
    benchmark::DoNotOptimize(crypto::HkdfSha256<64>(shared, shared, shared));
    benchmark::DoNotOptimize(crypto::HkdfSha256<64>(shared, shared, shared));
    auto keys = crypto::HkdfSha256<80>(ByteView(), shared, shared);
    benchmark::DoNotOptimize(crypto::HmacSha256Mac(shared, plaintext));
    benchmark::DoNotOptimize(crypto::Aes256CbcEncrypt(
        ByteView(keys.data(), 32), ByteView(keys.data() + 64, 16), plaintext));
  }
}
BENCHMARK(BM_DecryptFirstPreKeyPrimitives)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velmo::api
