// Writes the receive fuzzer's seed inputs: for each kind of exchange state a
// conversation reaches, the receiver's state with a message it gets there.
//
//   velmo_pq_fuzz_seeds <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "fuzz/input.h"
#include "protocol/pq/message.h"
#include "tests/conversation.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  namespace pq = velmo::pq;
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  int written = 0;
  auto write = [&](velmo::crypto::ByteView state,
                   velmo::crypto::ByteView message) {
    const velmo::crypto::Bytes seed = pq::fuzz::Join(state, message);
    std::ofstream(dir / ("seed-" + std::to_string(written++)),
                  std::ios::binary)
        .write(reinterpret_cast<const char*>(seed.data()),
               static_cast<std::streamsize>(seed.size()));
  };

  pq::testing::Conversation c(2024);
  write({}, {});
  write(c.state(1), {});
  std::set<std::string> seen;
  // Three epochs of lossless alternation pass every state on both sides.
  for (int i = 0; i < 600; i++) {
    const int from = i % 2;
    const int to = 1 - from;
    const velmo::crypto::SecretBytes before = c.state(to);
    pq::testing::Conversation::Sent s = c.Send(from);
    const pq::Message m = pq::DecodeMessage(s.message).value();
    const std::string kind = std::string(c.state_name(to)) + "/" +
                             std::to_string(static_cast<int>(m.type));
    if (seen.insert(kind).second) {
      write(before, s.message);
    }
    if (!c.Deliver(to, s.message).ok()) {
      std::fprintf(stderr, "the conversation failed\n");
      return 1;
    }
  }
  return 0;
}
