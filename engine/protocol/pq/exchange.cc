#include "protocol/pq/exchange.h"

#include <algorithm>

namespace velmo::pq {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The four transferred objects, in 16-bit values.
constexpr size_t kHeaderObjectValues = (kem::kHeaderBytes + kMacBytes) / 2;
constexpr size_t kVectorValues = kem::kVectorBytes / 2;
constexpr size_t kCt1Values = kem::kCiphertext1Bytes / 2;
constexpr size_t kCt2ObjectValues = (kem::kCiphertext2Bytes + kMacBytes) / 2;
static_assert(kHeaderObjectValues == 48 && kVectorValues == 576 &&
              kCt1Values == 480 && kCt2ObjectValues == 80);

template <size_t N>
Bytes Concat(const std::array<uint8_t, N>& a, const Mac& mac) {
  Bytes out(a.begin(), a.end());
  out.insert(out.end(), mac.begin(), mac.end());
  return out;
}

template <class Array>
void CopyTo(ByteView from, Array& to) {
  std::copy(from.begin(), from.begin() + to.size(), std::begin(to));
}

std::array<uint8_t, kem::kCiphertextBytes> JoinCiphertext(
    const kem::Ciphertext1& ct1, const kem::Ciphertext2& ct2) {
  std::array<uint8_t, kem::kCiphertextBytes> ct;
  std::copy(ct1.begin(), ct1.end(), ct.begin());
  std::copy(ct2.begin(), ct2.end(), ct.begin() + ct1.size());
  return ct;
}

// The KEM's functions refuse only inputs of the wrong length; every input
// here has its fixed size, so their results are taken with value().

// The ciphertext side's second encapsulation step: ciphertext part 2, its MAC
// over both parts, and the encoder that sends them.
Ct2Sampled SampleCt2(uint64_t epoch, const Authenticator& auth,
                     const kem::EncapsulationState& es,
                     const kem::Ciphertext1& ct1, const KemVector& ek) {
  const kem::Ciphertext2 ct2 = kem::EncapsulateSecondStep(es, ek).value();
  const Mac mac = auth.CiphertextMac(epoch, JoinCiphertext(ct1, ct2));
  return Ct2Sampled{epoch, auth, ChunkEncoder(Concat(ct2, mac))};
}

// Takes the vector out of a complete decoder and checks that it is the one
// the authenticated header promised.
Result<KemVector> TakeVector(const ChunkDecoder& d, const kem::Header& hdr) {
  KemVector ek;
  CopyTo(*d.Decoded(), ek);
  if (!kem::VectorMatchesHeader(ek, hdr)) {
    return errors::ErroneousData();
  }
  return ek;
}

bool TypeIs(const Message& m, MessageType a) { return m.type == a; }
bool TypeIs(const Message& m, MessageType a, MessageType b) {
  return m.type == a || m.type == b;
}

}  // namespace

V1State InitialState(uint32_t direction, ByteView auth_key) {
  Authenticator auth = Authenticator::Create(auth_key, 1);
  if (direction == 0) {
    return KeysUnsampled{1, std::move(auth)};
  }
  return NoHeaderReceived{1, std::move(auth), ChunkDecoder(kHeaderObjectValues)};
}

uint64_t EpochOf(const V1State& state) {
  return std::visit([](const auto& s) { return s.epoch; }, state);
}

std::string_view StateName(const V1State& state) {
  static constexpr std::string_view kNames[] = {
      "KeysUnsampled",    "KeysSampled",       "HeaderSent",
      "Ct1Received",      "EkSentCt1Received", "NoHeaderReceived",
      "HeaderReceived",   "Ct1Sampled",        "EkReceivedCt1Sampled",
      "Ct1Acknowledged",  "Ct2Sampled"};
  static_assert(std::size(kNames) == std::variant_size_v<V1State>);
  return kNames[state.index()];
}

SendOutcome SendStep(V1State& state, crypto::Rng& rng) {
  SendOutcome out;
  auto chunk_of = [&](MessageType type, ChunkEncoder& e) {
    out.type = type;
    out.chunk = e.NextChunk();
    return std::optional<V1State>();
  };
  auto nothing = [&](MessageType type) {
    out.type = type;
    return std::optional<V1State>();
  };
  // Each lambda returns the next state, or nothing to stay (possibly with
  // an encoder moved on); the variant is replaced only after the visit.
  std::optional<V1State> next = std::visit(
      Overloaded{
          [&](KeysUnsampled& s) -> std::optional<V1State> {
            crypto::SecretArray<kem::kSeedBytes> seed;
            rng.Fill(std::span<uint8_t>(seed.bytes, seed.size()));
            kem::KeyPair kp = kem::KeyGen(seed).value();
            const kem::Header hdr = kem::HeaderOf(kp.ek);
            KemVector ek;
            CopyTo(kem::VectorOf(kp.ek), ek);
            ChunkEncoder enc(Concat(hdr, s.auth.HeaderMac(s.epoch, hdr)));
            chunk_of(MessageType::kHdr, enc);
            return KeysSampled{s.epoch, s.auth, ek, std::move(kp.dk),
                               std::move(enc)};
          },
          [&](KeysSampled& s) { return chunk_of(MessageType::kHdr, s.sending_hdr); },
          [&](HeaderSent& s) { return chunk_of(MessageType::kEk, s.sending_ek); },
          [&](Ct1Received& s) {
            return chunk_of(MessageType::kEkCt1Ack, s.sending_ek);
          },
          [&](EkSentCt1Received&) { return nothing(MessageType::kCt1Ack); },
          [&](NoHeaderReceived&) { return nothing(MessageType::kNone); },
          [&](HeaderReceived& s) -> std::optional<V1State> {
            crypto::SecretArray<kem::kMessageBytes> m;
            rng.Fill(std::span<uint8_t>(m.bytes, m.size()));
            kem::FirstStep first = kem::EncapsulateFirstStep(s.hdr, m).value();
            EpochSecret secret = DeriveEpochSecret(first.shared_secret, s.epoch);
            Authenticator auth = s.auth;
            auth.Update(s.epoch, secret);
            ChunkEncoder enc(first.ciphertext1);
            chunk_of(MessageType::kCt1, enc);
            out.secret = EpochSecretOf{s.epoch, std::move(secret)};
            return Ct1Sampled{s.epoch,
                              std::move(auth),
                              s.hdr,
                              std::move(first.state),
                              first.ciphertext1,
                              std::move(enc),
                              std::move(s.receiving_ek)};
          },
          [&](Ct1Sampled& s) { return chunk_of(MessageType::kCt1, s.sending_ct1); },
          [&](EkReceivedCt1Sampled& s) {
            return chunk_of(MessageType::kCt1, s.sending_ct1);
          },
          [&](Ct1Acknowledged&) { return nothing(MessageType::kNone); },
          [&](Ct2Sampled& s) { return chunk_of(MessageType::kCt2, s.sending_ct2); },
      },
      state);
  if (next) {
    state = std::move(*next);
  }
  return out;
}

Result<std::optional<EpochSecretOf>> ReceiveStep(V1State& state,
                                                 const Message& message) {
  if (CarriesChunk(message.type) != message.chunk.has_value()) {
    return errors::MessageDecode();
  }
  const uint64_t e = EpochOf(state);
  const uint64_t m = message.epoch;
  if (auto* s = std::get_if<Ct2Sampled>(&state)) {
    // The ciphertext side learns that the key side finished the epoch from
    // the first message of the next one; it becomes the key side.
    if (m <= e) {
      return std::optional<EpochSecretOf>();
    }
    if (m - e > 1) {
      return errors::EpochOutOfRange(m);
    }
    state = KeysUnsampled{m, std::move(s->auth)};
    return std::optional<EpochSecretOf>();
  }
  if (m > e) {
    return errors::EpochOutOfRange(m);
  }
  if (m < e) {
    return std::optional<EpochSecretOf>();
  }

  std::optional<EpochSecretOf> secret;
  std::optional<Error> error;
  const Chunk* chunk = message.chunk ? &*message.chunk : nullptr;  // see above
  std::optional<V1State> next = std::visit(
      Overloaded{
          [&](KeysUnsampled&) -> std::optional<V1State> { return {}; },
          [&](KeysSampled& s) -> std::optional<V1State> {
            if (!TypeIs(message, MessageType::kCt1)) return {};
            ChunkDecoder ct1(kCt1Values);
            ct1.Add(*chunk);
            return HeaderSent{e, s.auth, std::move(s.dk), ChunkEncoder(s.ek),
                              std::move(ct1)};
          },
          [&](HeaderSent& s) -> std::optional<V1State> {
            if (!TypeIs(message, MessageType::kCt1)) return {};
            s.receiving_ct1.Add(*chunk);
            if (!s.receiving_ct1.Complete()) return {};
            kem::Ciphertext1 ct1;
            CopyTo(*s.receiving_ct1.Decoded(), ct1);
            return Ct1Received{e, s.auth, std::move(s.dk), ct1,
                               std::move(s.sending_ek)};
          },
          [&](Ct1Received& s) -> std::optional<V1State> {
            if (!TypeIs(message, MessageType::kCt2)) return {};
            ChunkDecoder ct2(kCt2ObjectValues);
            ct2.Add(*chunk);
            return EkSentCt1Received{e, s.auth, std::move(s.dk), s.ct1,
                                     std::move(ct2)};
          },
          [&](EkSentCt1Received& s) -> std::optional<V1State> {
            if (!TypeIs(message, MessageType::kCt2)) return {};
            s.receiving_ct2.Add(*chunk);
            if (!s.receiving_ct2.Complete()) return {};
            const Bytes object = *s.receiving_ct2.Decoded();
            kem::Ciphertext2 ct2;
            CopyTo(object, ct2);
            const auto ct = JoinCiphertext(s.ct1, ct2);
            std::optional<kem::SharedSecret> shared = kem::Decapsulate(s.dk, ct);
            if (!shared || e == UINT64_MAX) {
              error = errors::StateDecode();  // our own key is damaged
              return {};
            }
            EpochSecret k = DeriveEpochSecret(*shared, e);
            Authenticator auth = s.auth;
            auth.Update(e, k);
            if (!MacsEqual(ByteView(object).subspan(ct2.size()),
                           auth.CiphertextMac(e, ct))) {
              error = errors::MacVerification();
              return {};
            }
            secret = EpochSecretOf{e, std::move(k)};
            return NoHeaderReceived{e + 1, std::move(auth),
                                    ChunkDecoder(kHeaderObjectValues)};
          },
          [&](NoHeaderReceived& s) -> std::optional<V1State> {
            if (!TypeIs(message, MessageType::kHdr)) return {};
            s.receiving_hdr.Add(*chunk);
            if (!s.receiving_hdr.Complete()) return {};
            const Bytes object = *s.receiving_hdr.Decoded();
            kem::Header hdr;
            CopyTo(object, hdr);
            if (!MacsEqual(ByteView(object).subspan(hdr.size()),
                           s.auth.HeaderMac(e, hdr))) {
              error = errors::MacVerification();
              return {};
            }
            return HeaderReceived{e, s.auth, hdr, ChunkDecoder(kVectorValues)};
          },
          [&](HeaderReceived&) -> std::optional<V1State> { return {}; },
          [&](Ct1Sampled& s) -> std::optional<V1State> {
            if (!TypeIs(message, MessageType::kEk, MessageType::kEkCt1Ack)) {
              return {};
            }
            const bool acked = TypeIs(message, MessageType::kEkCt1Ack);
            s.receiving_ek.Add(*chunk);
            if (!s.receiving_ek.Complete()) {
              if (!acked) return {};
              return Ct1Acknowledged{e, s.auth, s.hdr, std::move(s.es), s.ct1,
                                     std::move(s.receiving_ek)};
            }
            Result<KemVector> ek = TakeVector(s.receiving_ek, s.hdr);
            if (!ek.ok()) {
              error = ek.error();
              return {};
            }
            if (acked) {
              return SampleCt2(e, s.auth, s.es, s.ct1, *ek);
            }
            return EkReceivedCt1Sampled{e, s.auth, std::move(s.es), *ek, s.ct1,
                                        std::move(s.sending_ct1)};
          },
          [&](EkReceivedCt1Sampled& s) -> std::optional<V1State> {
            if (!TypeIs(message, MessageType::kEkCt1Ack, MessageType::kCt1Ack)) {
              return {};
            }
            return SampleCt2(e, s.auth, s.es, s.ct1, s.ek);
          },
          [&](Ct1Acknowledged& s) -> std::optional<V1State> {
            if (!TypeIs(message, MessageType::kEk, MessageType::kEkCt1Ack)) {
              return {};
            }
            s.receiving_ek.Add(*chunk);
            if (!s.receiving_ek.Complete()) return {};
            Result<KemVector> ek = TakeVector(s.receiving_ek, s.hdr);
            if (!ek.ok()) {
              error = ek.error();
              return {};
            }
            return SampleCt2(e, s.auth, s.es, s.ct1, *ek);
          },
          [&](Ct2Sampled&) -> std::optional<V1State> { return {}; },
      },
      state);
  if (error) {
    return *std::move(error);
  }
  if (next) {
    state = std::move(*next);
  }
  return secret;
}

// ---- The stored form ----

namespace {

// Each state keeps the fields its struct declares; the stored one-of holds
// the same fields under a number per state. The conversions below go by
// which members a state has, so a state and its record cannot disagree.

template <class Array>
bool Fill(const auto& from, Array& to) {
  if (from.size() != std::size(to)) {
    return false;
  }
  std::copy(from.begin(), from.end(), std::begin(to));
  return true;
}

bool Load(const std::optional<EncoderRecord>& r, size_t num_values,
          ChunkEncoder& out) {
  if (!r) {
    return false;
  }
  std::vector<ByteView> pts(r->pts.begin(), r->pts.end());
  std::vector<ByteView> polys(r->polys.begin(), r->polys.end());
  std::optional<ChunkEncoder> e =
      ChunkEncoder::FromRecord(r->idx, pts, polys, num_values);
  if (e) out = std::move(*e);
  return e.has_value();
}

bool Load(const std::optional<DecoderRecord>& r, size_t num_values,
          ChunkDecoder& out) {
  if (!r) {
    return false;
  }
  std::vector<ByteView> pts(r->pts.begin(), r->pts.end());
  std::optional<ChunkDecoder> d =
      ChunkDecoder::FromRecord(r->pts_needed, r->polys, pts, num_values);
  if (d) out = std::move(*d);
  return d.has_value();
}

EncoderRecord Save(const ChunkEncoder& e) {
  EncoderRecord r;
  r.idx = e.idx();
  (e.has_polys() ? r.polys : r.pts) = e.LaneBytes();
  return r;
}

DecoderRecord Save(const ChunkDecoder& d) {
  DecoderRecord r;
  r.pts_needed = d.num_values();
  r.polys = kLanes;
  r.pts = d.LaneBytes();
  r.is_complete = d.Complete();
  return r;
}

template <class State>
std::optional<V1State> Build(const V1StateRecord& r, const Authenticator& auth) {
  State s{};
  s.epoch = r.epoch;
  s.auth = auth;
  bool ok = true;
  if constexpr (requires { s.ek; }) ok = ok && Fill(r.ek, s.ek);
  if constexpr (requires { s.dk; }) ok = ok && Fill(r.dk, s.dk.bytes);
  if constexpr (requires { s.hdr; }) ok = ok && Fill(r.hdr, s.hdr);
  if constexpr (requires { s.es; }) ok = ok && Fill(r.es, s.es.bytes);
  if constexpr (requires { s.ct1; }) ok = ok && Fill(r.ct1, s.ct1);
  if constexpr (requires { s.sending_hdr; })
    ok = ok && Load(r.encoder, kHeaderObjectValues, s.sending_hdr);
  if constexpr (requires { s.sending_ek; })
    ok = ok && Load(r.encoder, kVectorValues, s.sending_ek);
  if constexpr (requires { s.sending_ct1; })
    ok = ok && Load(r.encoder, kCt1Values, s.sending_ct1);
  if constexpr (requires { s.sending_ct2; })
    ok = ok && Load(r.encoder, kCt2ObjectValues, s.sending_ct2);
  if constexpr (requires { s.receiving_hdr; })
    ok = ok && Load(r.decoder, kHeaderObjectValues, s.receiving_hdr);
  if constexpr (requires { s.receiving_ek; })
    ok = ok && Load(r.decoder, kVectorValues, s.receiving_ek);
  if constexpr (requires { s.receiving_ct1; })
    ok = ok && Load(r.decoder, kCt1Values, s.receiving_ct1);
  if constexpr (requires { s.receiving_ct2; })
    ok = ok && Load(r.decoder, kCt2ObjectValues, s.receiving_ct2);
  if (!ok) {
    return std::nullopt;
  }
  return V1State(std::move(s));
}

using Builder = std::optional<V1State> (*)(const V1StateRecord&,
                                           const Authenticator&);

// kBuilders[i] builds the state stored under one-of field i + 1.
template <size_t... I>
constexpr std::array<Builder, sizeof...(I)> Builders(std::index_sequence<I...>) {
  return {&Build<std::variant_alternative_t<I, V1State>>...};
}
constexpr auto kBuilders =
    Builders(std::make_index_sequence<std::variant_size_v<V1State>>());

}  // namespace

std::optional<V1State> FromRecord(const V1StateRecord& r) {
  if (r.state == 0 || r.state > kBuilders.size() || r.epoch == 0 || !r.auth) {
    return std::nullopt;
  }
  std::optional<Authenticator> auth = Authenticator::FromRecord(*r.auth);
  if (!auth) {
    return std::nullopt;
  }
  return kBuilders[r.state - 1](r, *auth);
}

V1StateRecord ToRecord(const V1State& state) {
  V1StateRecord r;
  r.state = static_cast<uint32_t>(state.index() + 1);
  std::visit(
      [&r](const auto& s) {
        auto bytes = [](const auto& a) { return Bytes(a.begin(), a.end()); };
        auto secret = [](const auto& a) {
          return SecretBytes(std::begin(a.bytes), std::end(a.bytes));
        };
        r.epoch = s.epoch;
        r.auth = s.auth.ToRecord();
        if constexpr (requires { s.ek; }) r.ek = bytes(s.ek);
        if constexpr (requires { s.dk; }) r.dk = secret(s.dk);
        if constexpr (requires { s.hdr; }) r.hdr = bytes(s.hdr);
        if constexpr (requires { s.es; }) r.es = secret(s.es);
        if constexpr (requires { s.ct1; }) r.ct1 = bytes(s.ct1);
        if constexpr (requires { s.sending_hdr; }) r.encoder = Save(s.sending_hdr);
        if constexpr (requires { s.sending_ek; }) r.encoder = Save(s.sending_ek);
        if constexpr (requires { s.sending_ct1; }) r.encoder = Save(s.sending_ct1);
        if constexpr (requires { s.sending_ct2; }) r.encoder = Save(s.sending_ct2);
        if constexpr (requires { s.receiving_hdr; })
          r.decoder = Save(s.receiving_hdr);
        if constexpr (requires { s.receiving_ek; }) r.decoder = Save(s.receiving_ek);
        if constexpr (requires { s.receiving_ct1; })
          r.decoder = Save(s.receiving_ct1);
        if constexpr (requires { s.receiving_ct2; })
          r.decoder = Save(s.receiving_ct2);
      },
      state);
  return r;
}

}  // namespace velmo::pq
