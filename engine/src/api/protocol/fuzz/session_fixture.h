// A reproducible pair of devices for the decryption fuzzer and its seed
// writer: Bob before and after Alice's first message reached him, and the
// messages of a short conversation, all from fixed seeds.
#pragma once

#include <cstdint>
#include <vector>

#include "api/protocol/bundle_setup.h"
#include "api/protocol/pre_key_message.h"
#include "api/protocol/session_cipher.h"
#include "api/protocol/tests/step_parties.h"

namespace velmo::api::fuzz {

// What the first input byte asks for.
enum class Mode : uint8_t {
  kOrdinary = 0,       // the rest is an ordinary message for Bob's session
  kFirstPreKey = 1,    // a pre-key message for Bob before any session
  kPreKey = 2,         // a pre-key message for Bob's session
  kSessionRecord = 3,  // Bob's session record, given the fixed message
  kNumModes = 4,
};

struct Fixture {
  store::ProtocolStores fresh_bob;        // pre-keys only
  store::ProtocolStores established_bob;  // after the conversation below
  PeerAddress alice_address{"alice", 1};
  // Alice's messages: the first (pre-key) one, then ordinary ones that
  // continue her chain and open new ones. The last was not delivered.
  std::vector<EncryptedMessage> messages;
};

inline Fixture MakeFixture() {
  testing::StepParty alice({"alice", 1}, 11, 1100);
  testing::StepParty bob({"bob", 2}, 12, 1200);
  crypto::SeededRng rng(13);
  const StepContext context{rng, 1767225600};
  Fixture f;
  f.fresh_bob = bob.stores;

  auto send = [&](testing::StepParty& from, const testing::StepParty& to) {
    const uint8_t text[] = "a message of some length";
    return EncryptFor(from.stores, to.address, text, context).value();
  };
  auto receive = [&](testing::StepParty& to, const testing::StepParty& from,
                     const EncryptedMessage& m) {
    if (m.kind == SignalMessageKind::PreKey) {
      DecryptPreKeyMessage(to.stores, from.address, m.bytes, context).value();
    } else {
      DecryptOrdinary(to.stores, from.address, m.bytes, context).value();
    }
  };

  static_cast<void>(InitiateSession(alice.stores, bob.address,
                                    CheckBundle(bob.Bundle(true, true)).value(),
                                    context));
  for (int turn = 0; turn < 6; turn++) {
    for (int i = 0; i < 2; i++) {
      f.messages.push_back(send(alice, bob));
      receive(bob, alice, f.messages.back());
    }
    receive(alice, bob, send(bob, alice));
  }
  f.messages.push_back(send(alice, bob));
  f.established_bob = bob.stores;
  return f;
}

}  // namespace velmo::api::fuzz
