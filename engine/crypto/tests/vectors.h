// Reading the copied vector files: hex, JSON, and the "Key = value" blocks of
// the NIST response files.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace velmo::crypto::test {

using Bytes = std::vector<uint8_t>;

Bytes Hex(const std::string& hex);
std::string ToHex(const uint8_t* data, size_t len);
template <class C>
std::string ToHex(const C& c) {
  return ToHex(c.data(), c.size());
}

// The path of a file under the vectors folder, e.g. "x25519/rfc7748_x25519.json".
std::string VectorPath(const std::string& name);
std::string ReadText(const std::string& name);
nlohmann::json ReadJson(const std::string& name);

// One block of a response file: the "Key = value" lines from one COUNT (or
// Len) line to the next, plus the section ("[ENCRYPT]") it appeared under.
struct RspBlock {
  std::string section;
  std::map<std::string, std::string> fields;
  bool has(const std::string& k) const { return fields.count(k) != 0; }
  const std::string& at(const std::string& k) const { return fields.at(k); }
};
std::vector<RspBlock> ReadRsp(const std::string& name);

}  // namespace velmo::crypto::test
