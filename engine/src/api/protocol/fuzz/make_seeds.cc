// Writes the decryption fuzzer's seeds into the folder given: every message
// of the fixture's conversation in the mode that reads it, and Bob's
// session record.
#include <fstream>
#include <string>

#include "api/protocol/fuzz/session_fixture.h"
#include "protocol/records.h"

int main(int argc, char** argv) {
  if (argc != 2)
    return 2;
  namespace api = velmo::api;
  using api::fuzz::Mode;
  const std::string dir = argv[1];
  const api::fuzz::Fixture f = api::fuzz::MakeFixture();
  int n = 0;
  auto write = [&](Mode mode, velmo::crypto::ByteView bytes) {
    std::ofstream out(dir + "/seed_" + std::to_string(n++), std::ios::binary);
    out.put(static_cast<char>(mode));
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  };
  write(Mode::kFirstPreKey, f.messages.front().bytes);
  write(Mode::kPreKey, f.messages.front().bytes);
  for (size_t i = 1; i < f.messages.size(); i++) {
    write(Mode::kOrdinary, f.messages[i].bytes);
  }
  write(Mode::kSessionRecord,
        velmo::proto::Encode(f.established_bob.sessions.at(f.alice_address)));
  return 0;
}
