#include "api/protocol/ratchet_keys.h"

#include <cstring>
#include <stdexcept>
#include <string_view>

#include "crypto/hkdf.h"
#include "crypto/hmac.h"

namespace velmo::api {
namespace {

ByteView Label(std::string_view text) {
  return ByteView(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

constexpr uint8_t kMessageKeySeedByte = 0x01;
constexpr uint8_t kChainKeyByte = 0x02;

}  // namespace

SecretInput::SecretInput() {
  std::memset(bytes_.data(), 0xFF, 32);
  size_ = 32;
}

void SecretInput::AddAgreement(const proto::PrivateKey& own,
                               const proto::PublicKey& their) {
  SecretArray<32> product;
  static_cast<void>(own.Agree(their, product.bytes));
  Add(product);
}

void SecretInput::Add(ByteView secret) {
  if (secret.size() > bytes_.size() - size_) {
    throw std::logic_error("set-up secret input overflows");
  }
  std::memcpy(bytes_.data() + size_, secret.data(), secret.size());
  size_ += secret.size();
}

SessionSecrets SecretInput::Derive(const char* info) const {
  SecretArray<96> okm =
      crypto::HkdfSha256<96>(ByteView(), bytes(), Label(info));
  SessionSecrets out;
  std::memcpy(out.root_key.data(), okm.data(), 32);
  std::memcpy(out.chain_key.key.data(), okm.data() + 32, 32);
  out.chain_key.index = 0;
  std::memcpy(out.pq_auth_key.data(), okm.data() + 64, 32);
  return out;
}

RootStepResult RootStep(ByteView root_key,
                        const proto::PrivateKey& own,
                        const proto::PublicKey& their) {
  SecretArray<32> product;
  static_cast<void>(own.Agree(their, product.bytes));
  SecretArray<64> okm =
      crypto::HkdfSha256<64>(root_key, product, Label("WhisperRatchet"));
  RootStepResult out;
  std::memcpy(out.root_key.data(), okm.data(), 32);
  std::memcpy(out.chain_key.key.data(), okm.data() + 32, 32);
  out.chain_key.index = 0;
  return out;
}

ChainStep StepChain(const ChainKeyValue& chain_key) {
  const crypto::HmacSha256Key key(chain_key.key);
  ChainStep out;
  key.Mac(ByteView(&kMessageKeySeedByte, 1), out.seed.bytes);
  key.Mac(ByteView(&kChainKeyByte, 1), out.next.key.bytes);
  out.next.index = chain_key.index + 1;
  return out;
}

MessageKeys DeriveMessageKeys(ByteView seed,
                              const std::optional<pq::MessageKey>& pq_key) {
  ByteView salt = pq_key ? ByteView(*pq_key) : ByteView();
  SecretArray<80> okm =
      crypto::HkdfSha256<80>(salt, seed, Label("WhisperMessageKeys"));
  MessageKeys out;
  std::memcpy(out.cipher_key.data(), okm.data(), 32);
  std::memcpy(out.mac_key.data(), okm.data() + 32, 32);
  std::memcpy(out.iv.data(), okm.data() + 64, 16);
  return out;
}

}  // namespace velmo::api
