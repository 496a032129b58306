#include "api/protocol/bundle_setup.h"

#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "api/protocol/ratchet_keys.h"
#include "api/protocol/session_log.h"
#include "crypto/xeddsa.h"
#include "protocol/pq/ratchet.h"
#include "protocol/session_state.h"

namespace velmo::api {
namespace {

using proto::PublicKey;

EngineError FromProtocol(const proto::Error& error) {
  return EngineErrorFromProtocolFailure(error.message);
}

EngineError GoTogether(const char* what) {
  return EngineError{ErrorKind::InvalidArgument, what};
}

}  // namespace

Outcome<CheckedBundle> CheckBundle(const PreKeyBundle& bundle) {
  if (bundle.pre_key_id.has_value() != bundle.pre_key_public.has_value()) {
    return GoTogether("pre_key_id and pre_key_public go together");
  }
  std::optional<PublicKey> pre_key;
  if (bundle.pre_key_public) {
    proto::Result<PublicKey> key =
        proto::DecodePublicKey(*bundle.pre_key_public);
    if (!key.ok())
      return FromProtocol(key.error());
    pre_key = *key;
  }
  proto::Result<PublicKey> signed_pre_key =
      proto::DecodePublicKey(bundle.signed_pre_key_public);
  if (!signed_pre_key.ok())
    return FromProtocol(signed_pre_key.error());
  proto::Result<PublicKey> identity_key =
      proto::DecodePublicKey(bundle.identity_key);
  if (!identity_key.ok())
    return FromProtocol(identity_key.error());

  const bool kyber_id = bundle.kyber_pre_key_id.has_value();
  if (bundle.kyber_pre_key_public.has_value() != kyber_id ||
      bundle.kyber_pre_key_signature.has_value() != kyber_id) {
    return GoTogether("kyber prekey id, key and signature go together");
  }
  std::optional<CheckedBundle::Kyber> kyber;
  if (kyber_id) {
    proto::Result<crypto::kyber1024::PublicKey> key =
        proto::DecodeKyberPublicKey(*bundle.kyber_pre_key_public);
    if (!key.ok())
      return FromProtocol(key.error());
    kyber = CheckedBundle::Kyber{*bundle.kyber_pre_key_id, *key,
                                 *bundle.kyber_pre_key_public,
                                 *bundle.kyber_pre_key_signature};
  }
  return CheckedBundle{bundle.registration_id, bundle.pre_key_id,
                       std::move(pre_key),     bundle.signed_pre_key_id,
                       *signed_pre_key,        bundle.signed_pre_key_signature,
                       *identity_key,          std::move(kyber)};
}

proto::Status InitiateSession(store::ProtocolStores& stores,
                              const PeerAddress& address,
                              const CheckedBundle& bundle,
                              const StepContext& context) {
  if (!stores.identity.IsTrustedIdentity(address, bundle.identity_key,
                                         store::Direction::kSending)) {
    return proto::errors::UntrustedIdentity(address.ToString());
  }
  const auto signed_pre_key_encoded = bundle.signed_pre_key.Encode();
  if (!crypto::XEdDsaVerify(bundle.identity_key, signed_pre_key_encoded,
                            bundle.signed_pre_key_signature)) {
    return proto::errors::SignatureValidationFailed();
  }
  if (bundle.kyber &&
      !crypto::XEdDsaVerify(bundle.identity_key, bundle.kyber->encoded,
                            bundle.kyber->signature)) {
    return proto::errors::SignatureValidationFailed();
  }

  proto::RecordStructure record =
      stores.sessions.LoadSession(address).value_or(proto::RecordStructure{});
  const proto::KeyPair base = proto::KeyPair::Generate(context.rng);
  const proto::IdentityKeyPair& own = stores.identity.GetIdentityKeyPair();
  const proto::KeyPair ratchet = proto::KeyPair::Generate(context.rng);

  // Both parties hash DH1 = DH(IK_A, SPK_B), DH2 = DH(EK_A, IK_B),
  // DH3 = DH(EK_A, SPK_B), then DH4 = DH(EK_A, OPK_B) and the Kyber secret
  // when the bundle has them.
  SecretInput input;
  input.AddAgreement(own.private_key, bundle.signed_pre_key);
  input.AddAgreement(base.private_key, bundle.identity_key);
  input.AddAgreement(base.private_key, bundle.signed_pre_key);
  if (bundle.pre_key) {
    input.AddAgreement(base.private_key, *bundle.pre_key);
  }
  std::optional<crypto::kyber1024::Encapsulation> kem;
  if (bundle.kyber) {
    kem = crypto::kyber1024::Encapsulate(bundle.kyber->key, context.rng);
    input.Add(kem->shared_secret);
  }
  const SessionSecrets secrets =
      input.Derive(bundle.kyber ? kPqxdhInfo : kX3dhInfo);

  // The first sending chain comes from our new ratchet key and the signed
  // pre-key, which the peer uses as its first ratchet key.
  const RootStepResult sending =
      RootStep(secrets.root_key, ratchet.private_key, bundle.signed_pre_key);

  const bool with_oneself = own.public_key.Equals(bundle.identity_key);
  pq::CreateParams pq_params;
  pq_params.auth_key = secrets.pq_auth_key;
  pq_params.direction = 0;
  if (with_oneself) {
    pq_params.max_jump = std::numeric_limits<uint32_t>::max();
  }
  pq::Result<SecretBytes> pq_state = pq::CreateState(pq_params);
  if (!pq_state.ok()) {
    return proto::errors::InvalidArgument(
        "post-quantum ratchet: error creating initial A2B state: " +
        pq_state.error().message);
  }

  proto::SessionStructure state;
  state.session_version = bundle.kyber ? 4 : 3;
  state.local_identity_public.assign(own.public_key.Encode());
  state.remote_identity_public.assign(bundle.identity_key.Encode());
  state.root_key.assign(sending.root_key);
  state.previous_counter = 0;
  proto::SetSenderChain(state, ratchet, sending.chain_key);
  proto::AddReceiverChain(state, bundle.signed_pre_key, secrets.chain_key);
  state.alice_base_key.assign(base.public_key.Encode());
  state.pq_ratchet_state = std::move(pq_state.value());

  proto::PendingPreKey pending;
  pending.pre_key_id = bundle.pre_key_id;
  pending.base_key.assign(base.public_key.Encode());
  // The stored field is signed; ids above 2^31 - 1 wrap as they do for
  // every other writer of this record.
  pending.signed_pre_key_id = static_cast<int32_t>(bundle.signed_pre_key_id);
  pending.timestamp = context.now_seconds;
  state.pending_pre_key = std::move(pending);
  if (bundle.kyber) {
    state.pending_kyber_pre_key = proto::PendingKyberPreKey{
        bundle.kyber->id,
        Bytes(crypto::EncodeKyberCiphertext(kem->ciphertext))};
  }
  session_log::Line(log::Level::kInfo,
                    "set_unacknowledged_pre_key_message for: ", address,
                    " with preKeyId: ",
                    bundle.pre_key_id ? std::to_string(*bundle.pre_key_id)
                                      : std::string("<none>"));
  state.local_registration_id = stores.identity.GetLocalRegistrationId();
  state.remote_registration_id = bundle.registration_id;

  stores.identity.SaveIdentity(address, bundle.identity_key);
  proto::ArchiveCurrentState(record, std::move(state));
  stores.sessions.StoreSession(address, std::move(record));
  return proto::Status::Ok();
}

}  // namespace velmo::api
