#include "protocol/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto/hmac.h"
#include "protocol/log.h"
#include "protocol/tests/test_util.h"

namespace velmo::proto {
namespace {

using testing::Pattern;
using testing::ReadGolden;
using testing::Unhex;
using testing::Vec;
using testing::operator+;

PublicKey KeyOf(uint8_t start) {
  return DecodePublicKey(Pattern(start, 32, 5)).value();
}

const std::vector<uint8_t> kMacKey = Pattern(0x42, 32);
const PublicKey kAlice = KeyOf(0xa0);
const PublicKey kBob = KeyOf(0xb0);

Bytes BuildOrdinary(uint8_t version, uint32_t counter, ByteView ciphertext,
                    ByteView pq = {}) {
  PublicKey ratchet = KeyOf(0x14);
  return BuildSignalMessage({version, ratchet, counter, 0, ciphertext, pq},
                            kMacKey, kAlice, kBob)
      .value();
}

// The body between the version byte and the MAC.
std::vector<uint8_t> BodyOf(const Bytes& ordinary) {
  return std::vector<uint8_t>(ordinary.begin() + 1, ordinary.end() - kMacBytes);
}

// The version byte followed by a body.
Bytes Prefixed(uint8_t version_byte, const std::vector<uint8_t>& body) {
  Bytes out(1 + body.size());
  out[0] = version_byte;
  std::copy(body.begin(), body.end(), out.begin() + 1);
  return out;
}

// Wraps a body as an ordinary message with a correct MAC.
Bytes WithMac(uint8_t version_byte, const std::vector<uint8_t>& body) {
  Bytes out = Prefixed(version_byte, body);
  auto mac = crypto::HmacSha256Mac(
      kMacKey, Vec(kAlice.Encode()) + Vec(kBob.Encode()) + out);
  out.insert(out.end(), mac.data(), mac.data() + kMacBytes);
  return out;
}

TEST(MessagesGolden, OrdinaryBodyMatchesProtoc) {
  // Counter and previous counter 0 and an empty ciphertext are all written;
  // an empty post-quantum part is not.
  Bytes built = BuildOrdinary(3, 0, {});
  EXPECT_EQ(0x34, built[0]);
  EXPECT_EQ(ReadGolden("signal_message.bin"), BodyOf(built));

  PublicKey ratchet = KeyOf(0x14);
  Bytes with_pq = BuildSignalMessage({4, ratchet, 25000, 128, Pattern(0x34, 48),
                                      Pattern(0x01, 36)},
                                     kMacKey, kAlice, kBob)
                      .value();
  EXPECT_EQ(0x44, with_pq[0]);
  EXPECT_EQ(ReadGolden("signal_message_pq.bin"), BodyOf(with_pq));

  // protoc's bytes read back.
  Result<SignalMessage> read =
      ReadSignalMessage(WithMac(0x44, ReadGolden("signal_message_pq.bin")));
  ASSERT_TRUE(read.ok()) << read.error().message;
  EXPECT_EQ(4, read->message_version);
  EXPECT_EQ(25000u, read->counter);
  EXPECT_EQ(128u, read->previous_counter);
  EXPECT_EQ(Pattern(0x34, 48), read->ciphertext);
  EXPECT_EQ(Pattern(0x01, 36), read->pq_ratchet);
  EXPECT_TRUE(VerifyMac(*read, kAlice, kBob, kMacKey).value());
}

TEST(MessagesGolden, CounterZeroIsWritten) {
  std::vector<uint8_t> body = BodyOf(BuildOrdinary(3, 0, {}));
  // ratchet key (2 + 33 bytes), then 10 00 18 00 22 00.
  EXPECT_EQ(Unhex("10 00 18 00 22 00"),
            std::vector<uint8_t>(body.begin() + 35, body.end()));
}

TEST(MessagesGolden, PreKeyBodyMatchesProtoc) {
  PublicKey base = KeyOf(0x15);
  PublicKey identity = KeyOf(0x35);
  Bytes kyber = Pattern(0x75, 1568, 8);
  Bytes inner = Pattern(0x55, 20);
  Bytes built = BuildPreKeySignalMessage({.message_version = 4,
                                          .registration_id = 0,
                                          .pre_key_id = 0,
                                          .signed_pre_key_id = 0,
                                          .kyber_pre_key_id = 3,
                                          .kyber_ciphertext = kyber,
                                          .base_key = base,
                                          .identity_key = identity,
                                          .message = inner});
  EXPECT_EQ(0x44, built[0]);
  EXPECT_EQ(ReadGolden("pre_key_signal_message.bin"),
            std::vector<uint8_t>(built.begin() + 1, built.end()));
}

TEST(Messages, OrdinaryRoundTrip) {
  Bytes built = BuildOrdinary(4, 7, Pattern(1, 32), Pattern(9, 40));
  Result<SignalMessage> read = ReadSignalMessage(built);
  ASSERT_TRUE(read.ok()) << read.error().message;
  EXPECT_EQ(KeyOf(0x14), read->ratchet_key);
  EXPECT_EQ(7u, read->counter);
  EXPECT_EQ(Pattern(1, 32), read->ciphertext);
  EXPECT_EQ(Pattern(9, 40), read->pq_ratchet);
  EXPECT_EQ(built, read->serialized);
}

TEST(Messages, OrdinaryReadFailuresInOrder) {
  std::vector<uint8_t> key = Unhex("0a 21") + Pattern(0x14, 32, 5);
  std::vector<uint8_t> counter = Unhex("10 00");
  std::vector<uint8_t> ciphertext = Unhex("22 00");
  const struct {
    const char* name;
    Bytes in;
    const char* text;
  } kCases[] = {
      {"8 bytes", Bytes(8, 0x34), "ciphertext serialized bytes were too short <8>"},
      {"empty", {}, "ciphertext serialized bytes were too short <0>"},
      {"9 bytes: empty body", Bytes(9, 0x34), "protobuf encoding was invalid"},
      {"version byte 0x24", WithMac(0x24, key + counter + ciphertext),
       "ciphertext version was too old <2>"},
      {"version byte 0x54", WithMac(0x54, key + counter + ciphertext),
       "ciphertext version was unrecognized <5>"},
      {"version byte 0xf4", WithMac(0xf4, {}), "ciphertext version was unrecognized <15>"},
      {"body not a message", WithMac(0x34, Unhex("0a 40")),
       "protobuf encoding was invalid"},
      {"no ratchet key", WithMac(0x34, counter + ciphertext),
       "protobuf encoding was invalid"},
      {"ratchet key of type 0x06 and no counter",
       WithMac(0x34, Unhex("0a 21") + Pattern(0x14, 32, 6) + ciphertext),
       "bad key type <0x06>"},
      {"empty ratchet key", WithMac(0x34, Unhex("0a 00") + counter + ciphertext),
       "no key type identifier"},
      {"no counter", WithMac(0x34, key + ciphertext), "protobuf encoding was invalid"},
      {"no ciphertext", WithMac(0x34, key + counter), "protobuf encoding was invalid"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<SignalMessage> read = ReadSignalMessage(c.in);
    ASSERT_FALSE(read.ok());
    EXPECT_EQ(c.text, read.error().message);
  }

  // Version 0x3f reads as version 3 (the low nibble is not looked at); the
  // previous counter may be absent.
  Result<SignalMessage> read = ReadSignalMessage(WithMac(0x3f, key + counter + ciphertext));
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(3, read->message_version);
  EXPECT_EQ(0u, read->previous_counter);
  EXPECT_TRUE(read->pq_ratchet.empty());
}

std::vector<std::string> g_lines;
void CollectLines(log::Level, std::string_view line) { g_lines.emplace_back(line); }

TEST(Messages, MacCoversEveryByteAndBothIdentities) {
  Bytes built = BuildOrdinary(4, 1, Pattern(1, 16));
  SignalMessage message = ReadSignalMessage(built).value();
  EXPECT_TRUE(VerifyMac(message, kAlice, kBob, kMacKey).value());
  EXPECT_FALSE(VerifyMac(message, kBob, kAlice, kMacKey).value());

  for (size_t i = 0; i < built.size(); i++) {
    for (int bit = 0; bit < 8; bit++) {
      Bytes flipped = built;
      flipped[i] ^= static_cast<uint8_t>(1 << bit);
      Result<SignalMessage> read = ReadSignalMessage(flipped);
      if (!read.ok()) continue;  // the flip broke the body itself
      ASSERT_FALSE(VerifyMac(*read, kAlice, kBob, kMacKey).value())
          << "byte " << i << " bit " << bit;
    }
  }

  g_lines.clear();
  log::SetSink(CollectLines, log::Level::kWarning);
  Bytes bad_mac = built;
  bad_mac.back() ^= 1;
  EXPECT_FALSE(VerifyMac(ReadSignalMessage(bad_mac).value(), kAlice, kBob, kMacKey).value());
  log::SetSink(nullptr, log::Level::kDebug);
  ASSERT_EQ(1u, g_lines.size());
  std::string theirs = Hex(bad_mac.data() + bad_mac.size() - 8, 8);
  std::string ours = Hex(built.data() + built.size() - 8, 8);
  EXPECT_EQ("Bad Mac! Their Mac: " + theirs + " Our Mac: " + ours, g_lines[0]);
}

TEST(Messages, MacKeyMustBe32Bytes) {
  PublicKey ratchet = KeyOf(0x14);
  Result<Bytes> built = BuildSignalMessage({4, ratchet, 0, 0, {}, {}},
                                           Pattern(0, 31), kAlice, kBob);
  ASSERT_FALSE(built.ok());
  EXPECT_EQ("invalid MAC key length <31>", built.error().message);
  SignalMessage message = ReadSignalMessage(BuildOrdinary(4, 0, {})).value();
  Result<bool> verified = VerifyMac(message, kAlice, kBob, Pattern(0, 33));
  ASSERT_FALSE(verified.ok());
  EXPECT_EQ("invalid MAC key length <33>", verified.error().message);
}

// Builds a pre-key message body by hand, field by field, so single fields
// can be left out or spoilt.
struct PreKeyParts {
  std::vector<uint8_t> pre_key_id = Unhex("08 07");
  std::vector<uint8_t> base_key = Unhex("12 21") + Pattern(0x15, 32, 5);
  std::vector<uint8_t> identity_key = Unhex("1a 21") + Pattern(0x35, 32, 5);
  std::vector<uint8_t> message;
  std::vector<uint8_t> registration_id = Unhex("28 05");
  std::vector<uint8_t> signed_pre_key_id = Unhex("30 06");
  std::vector<uint8_t> kyber_id = Unhex("38 03");
  std::vector<uint8_t> kyber_ciphertext = Unhex("42 02 08 01");

  explicit PreKeyParts(uint8_t inner_version = 4) {
    Bytes inner = BuildOrdinary(inner_version, 0, Pattern(1, 16));
    message = Unhex("22") + std::vector<uint8_t>{static_cast<uint8_t>(inner.size())} +
              std::vector<uint8_t>(inner.begin(), inner.end());
  }
  Bytes Wire(uint8_t version_byte) const {
    std::vector<uint8_t> body = pre_key_id + base_key + identity_key + message +
                                registration_id + signed_pre_key_id + kyber_id +
                                kyber_ciphertext;
    return Prefixed(version_byte, body);
  }
};

TEST(Messages, PreKeyRoundTrip) {
  PublicKey base = KeyOf(0x15);
  PublicKey identity = KeyOf(0x35);
  Bytes inner = BuildOrdinary(3, 2, Pattern(1, 16));
  Bytes built = BuildPreKeySignalMessage({.message_version = 3,
                                          .registration_id = 16380,
                                          .signed_pre_key_id = 9,
                                          .base_key = base,
                                          .identity_key = identity,
                                          .message = inner});
  Result<PreKeySignalMessage> read = ReadPreKeySignalMessage(built);
  ASSERT_TRUE(read.ok()) << read.error().message;
  EXPECT_EQ(3, read->message_version);
  EXPECT_EQ(16380u, read->registration_id);
  EXPECT_FALSE(read->pre_key_id.has_value());
  EXPECT_EQ(9u, read->signed_pre_key_id);
  EXPECT_FALSE(read->kyber_pre_key_id.has_value());
  EXPECT_EQ(base, read->base_key);
  EXPECT_EQ(identity, read->identity_key);
  EXPECT_EQ(inner, read->message.serialized);
  EXPECT_EQ(2u, read->message.counter);
}

TEST(Messages, PreKeyReadFailuresInOrder) {
  auto without = [](std::vector<uint8_t> PreKeyParts::*field) {
    PreKeyParts p;
    p.*field = {};
    return p;
  };
  auto with = [](std::vector<uint8_t> PreKeyParts::*field,
                 std::vector<uint8_t> value) {
    PreKeyParts p;
    p.*field = std::move(value);
    return p;
  };
  PreKeyParts v4;
  PreKeyParts no_kyber = without(&PreKeyParts::kyber_id);
  no_kyber.kyber_ciphertext.clear();
  const std::string kBothOrNeither =
      "invalid PreKey message: Both or neither kyber pre_key_id and "
      "kyber_ciphertext can be present";
  const struct {
    const char* name;
    Bytes in;
    std::string text;  // empty: reads
  } kCases[] = {
      {"complete, version 4", v4.Wire(0x44), ""},
      {"no one-time pre-key, no registration id",
       [&] {
         PreKeyParts p = without(&PreKeyParts::pre_key_id);
         p.registration_id.clear();
         return p.Wire(0x44);
       }(),
       ""},
      {"version 3 without Kyber",
       [&] {
         PreKeyParts p(3);
         p.kyber_id.clear();
         p.kyber_ciphertext.clear();
         return p.Wire(0x33);
       }(),
       ""},
      {"empty", {}, "ciphertext serialized bytes were too short <0>"},
      {"version byte 0x24", v4.Wire(0x24), "ciphertext version was too old <2>"},
      {"version byte 0x54", v4.Wire(0x54), "ciphertext version was unrecognized <5>"},
      {"no base key", without(&PreKeyParts::base_key).Wire(0x44),
       "protobuf encoding was invalid"},
      {"no identity key", without(&PreKeyParts::identity_key).Wire(0x44),
       "protobuf encoding was invalid"},
      {"no message", without(&PreKeyParts::message).Wire(0x44),
       "protobuf encoding was invalid"},
      {"no signed pre-key id", without(&PreKeyParts::signed_pre_key_id).Wire(0x44),
       "protobuf encoding was invalid"},
      {"bad base key before the Kyber rule",
       [&] {
         PreKeyParts p = with(&PreKeyParts::base_key, Unhex("12 01 07"));
         p.kyber_id.clear();
         return p.Wire(0x44);
       }(),
       "bad key type <0x07>"},
      {"Kyber id alone", without(&PreKeyParts::kyber_ciphertext).Wire(0x44),
       kBothOrNeither},
      {"Kyber ciphertext alone", without(&PreKeyParts::kyber_id).Wire(0x34),
       kBothOrNeither},
      {"version 4 without Kyber", no_kyber.Wire(0x44),
       "invalid PreKey message: Kyber pre key must be present for this session "
       "version"},
      {"Kyber rule before the identity key",
       [&] {
         PreKeyParts p = with(&PreKeyParts::identity_key, Unhex("1a 00"));
         p.kyber_id.clear();
         return p.Wire(0x44);
       }(),
       kBothOrNeither},
      {"bad identity key", with(&PreKeyParts::identity_key, Unhex("1a 00")).Wire(0x44),
       "no key type identifier"},
      {"inner message too short", with(&PreKeyParts::message, Unhex("22 02 34 00")).Wire(0x44),
       "ciphertext serialized bytes were too short <2>"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Result<PreKeySignalMessage> read = ReadPreKeySignalMessage(c.in);
    if (c.text.empty()) {
      EXPECT_TRUE(read.ok()) << read.error().message;
    } else {
      ASSERT_FALSE(read.ok());
      EXPECT_EQ(c.text, read.error().message);
    }
  }
}

TEST(Messages, VersionByte) {
  EXPECT_EQ(0x34, VersionByte(3));
  EXPECT_EQ(0x44, VersionByte(4));
  EXPECT_EQ(0x04, VersionByte(16));  // (16 × 16 + 4) modulo 256
}

}  // namespace
}  // namespace velmo::proto
