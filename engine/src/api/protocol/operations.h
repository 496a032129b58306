// The handlers of the operations that work on keys, records and messages:
// key material (4-8), the thin operations (9-15, 17-19) and the store frame
// of the session operations (2, 3, 16). Each takes its arguments in the
// order the operation table lists them and returns its result or the
// EngineError it reports; internal failures (a failing random source, say)
// are thrown and become fault replies.
#pragma once

#include <cstdint>
#include <vector>

#include "api/outcome.h"
#include "api/records.h"

namespace velmo::api {

// 2: store, address, kind, ciphertext.
Outcome<DecryptResult> DecryptMessage(StoreSnapshot store, PeerAddress address,
                                      SignalMessageKind kind, Bytes ciphertext);
// 3: store, address, plaintext.
Outcome<EncryptResult> EncryptMessage(StoreSnapshot store, PeerAddress address,
                                      SecretBytes plaintext);
// 4.
GeneratedIdentityKeyPair GenerateIdentityKeyPair();
// 5: "kyber prekey id overflow" when start + count - 1 passes 2^32 - 1.
Outcome<std::vector<GeneratedPreKey>> GenerateKyberPreKeys(
    SecretBytes identity_key_pair, uint32_t start, uint32_t count);
// 6: "prekey id overflow" likewise.
Outcome<std::vector<GeneratedPreKey>> GeneratePreKeys(uint32_t start,
                                                      uint32_t count);
// 7: uniformly from 1 to 16380.
uint32_t GenerateRegistrationId();
// 8.
Outcome<GeneratedPreKey> GenerateSignedPreKey(SecretBytes identity_key_pair,
                                              uint32_t id);
// 9: the pair's public key, 33 bytes.
Outcome<Bytes> IdentityPublicKey(SecretBytes identity_key_pair);
// 10: a 64-byte XEdDSA signature by the identity key.
Outcome<Bytes> IdentitySign(SecretBytes identity_key_pair, Bytes message);
// 11: false for any signature that does not verify, whatever its length.
Outcome<bool> IdentityVerify(Bytes public_key, Bytes message, Bytes signature);
// 12.
Outcome<MessageInfo> InspectMessage(Bytes ciphertext);
// 13, 14, 19: the public part of a stored pre-key record.
Outcome<PublicPreKey> KyberPreKeyPublicPart(SecretBytes record);
Outcome<PublicPreKey> PreKeyPublicPart(SecretBytes record);
Outcome<PublicPreKey> SignedPreKeyPublicPart(SecretBytes record);
// 15, 17: the key must be exactly 32 bytes; it is clamped before use.
Outcome<Bytes> PrivateKeySign(SecretBytes private_key, Bytes message);
Outcome<Bytes> PublicKeyFromPrivate(SecretBytes private_key);
// 16: store, address, bundle.
Outcome<StoreChanges> ProcessPreKeyBundle(StoreSnapshot store,
                                          PeerAddress address,
                                          PreKeyBundle bundle);
// 18.
Outcome<SessionInfo> SessionInfoOf(SecretBytes record);

}  // namespace velmo::api
