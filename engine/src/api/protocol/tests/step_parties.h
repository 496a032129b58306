// Parties for tests of the session steps: each holds its own key material
// and one set of stores that lives for the whole test, as if the Dart side
// applied every change at once.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "api/protocol/step_context.h"
#include "api/records.h"
#include "crypto/key_encoding.h"
#include "crypto/kyber1024.h"
#include "crypto/random.h"
#include "crypto/xeddsa.h"
#include "protocol/keys.h"
#include "protocol/records.h"
#include "store/stores.h"

namespace velmo::api::testing {

struct StepParty {
  // Identity and pre-keys come from `seed`; two parties with the same seed
  // share one identity (a session with oneself).
  StepParty(PeerAddress address, uint64_t seed, uint64_t pre_key_seed)
      : address(std::move(address)),
        identity(Generate(seed)),
        signed_pre_key(Generate(pre_key_seed)),
        one_time(Generate(pre_key_seed + 1)),
        kyber(KyberFrom(pre_key_seed)) {
    crypto::SeededRng rng(pre_key_seed + 2);
    signed_signature = Sign(signed_pre_key.public_key.Encode(), rng);
    kyber_signature = Sign(crypto::EncodeKyberPublicKey(kyber.public_key), rng);
    Reset();
  }

  // Reset gives the party fresh stores holding only its own keys.
  void Reset() {
    stores = store::ProtocolStores{};
    proto::IdentityKeyPair pair{identity.public_key, identity.private_key};
    Check(stores.identity.LoadLocal(proto::SerializeIdentityKeyPair(pair),
                                    registration_id));
    proto::SignedPreKeyRecordStructure signed_record;
    signed_record.id = kSignedId;
    signed_record.public_key.assign(signed_pre_key.public_key.Encode());
    signed_record.private_key.assign(signed_pre_key.private_key.bytes());
    signed_record.signature = signed_signature;
    Check(stores.signed_pre_keys.Load(kSignedId, proto::Encode(signed_record)));
    proto::PreKeyRecordStructure one_time_record;
    one_time_record.id = kOneTimeId;
    one_time_record.public_key.assign(one_time.public_key.Encode());
    one_time_record.private_key.assign(one_time.private_key.bytes());
    Check(stores.pre_keys.Load(kOneTimeId, proto::Encode(one_time_record)));
    proto::SignedPreKeyRecordStructure kyber_record;
    kyber_record.id = kKyberId;
    kyber_record.public_key.assign(
        crypto::EncodeKyberPublicKey(kyber.public_key));
    kyber_record.private_key.assign(
        crypto::EncodeKyberSecretKey(kyber.secret_key));
    kyber_record.signature = kyber_signature;
    Check(stores.kyber_pre_keys.Load(kKyberId, proto::Encode(kyber_record)));
  }

  // Bundle is what the party would publish.
  PreKeyBundle Bundle(bool with_one_time, bool with_kyber) const {
    PreKeyBundle b;
    b.registration_id = registration_id;
    b.device_id = address.device_id;
    if (with_one_time) {
      b.pre_key_id = kOneTimeId;
      b.pre_key_public = Encoded(one_time.public_key);
    }
    b.signed_pre_key_id = kSignedId;
    b.signed_pre_key_public = Encoded(signed_pre_key.public_key);
    b.signed_pre_key_signature = signed_signature;
    b.identity_key = Encoded(identity.public_key);
    if (with_kyber) {
      b.kyber_pre_key_id = kKyberId;
      b.kyber_pre_key_public = crypto::EncodeKyberPublicKey(kyber.public_key);
      b.kyber_pre_key_signature = kyber_signature;
    }
    return b;
  }

  static Bytes Encoded(const crypto::PublicKey& key) {
    auto e = key.Encode();
    return Bytes(e.begin(), e.end());
  }

  static constexpr uint32_t kSignedId = 5;
  static constexpr uint32_t kOneTimeId = 7;
  static constexpr uint32_t kKyberId = 3;

  PeerAddress address;
  uint32_t registration_id = 1234;
  crypto::KeyPair identity;
  crypto::KeyPair signed_pre_key;
  crypto::KeyPair one_time;
  crypto::kyber1024::KeyPair kyber;
  Bytes signed_signature;
  Bytes kyber_signature;
  store::ProtocolStores stores;

 private:
  static crypto::KeyPair Generate(uint64_t seed) {
    crypto::SeededRng rng(seed);
    return crypto::KeyPair::Generate(rng);
  }
  static crypto::kyber1024::KeyPair KyberFrom(uint64_t seed) {
    crypto::SeededRng rng(seed + 3);
    return crypto::kyber1024::GenerateKeyPair(rng);
  }
  Bytes Sign(crypto::ByteView message, crypto::Rng& rng) const {
    crypto::Signature s =
        crypto::XEdDsaSign(identity.private_key, message, rng);
    return Bytes(s.begin(), s.end());
  }
  static void Check(const proto::Status& status) {
    if (!status.ok())
      throw std::runtime_error(status.error().message);
  }
};

}  // namespace velmo::api::testing
