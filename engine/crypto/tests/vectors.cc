#include "vectors.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velmo::crypto::test {

Bytes Hex(const std::string& hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument("bad hex digit");
  };
  if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex length");
  Bytes out(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<uint8_t>(nibble(hex[2 * i]) << 4 | nibble(hex[2 * i + 1]));
  }
  return out;
}

std::string ToHex(const uint8_t* data, size_t len) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < len; ++i) {
    s += kDigits[data[i] >> 4];
    s += kDigits[data[i] & 15];
  }
  return s;
}

std::string VectorPath(const std::string& name) {
  return std::string(VELMO_CRYPTO_VECTORS) + "/" + name;
}

std::string ReadText(const std::string& name) {
  std::ifstream in(VectorPath(name), std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + name);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

nlohmann::json ReadJson(const std::string& name) {
  return nlohmann::json::parse(ReadText(name));
}

std::vector<RspBlock> ReadRsp(const std::string& name) {
  std::istringstream in(ReadText(name));
  std::vector<RspBlock> blocks;
  std::string section;
  auto trim = [](const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r"), b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
  };
  std::string line;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      section = line;
      continue;
    }
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = trim(line.substr(0, eq));
    // A block starts at its COUNT or Len line; blank lines inside a block
    // occur in some files.
    if (key == "COUNT" || key == "Len" || key == "count" || blocks.empty()) {
      blocks.push_back(RspBlock{section, {}});
    }
    blocks.back().fields[key] = trim(line.substr(eq + 1));
  }
  return blocks;
}

}  // namespace velmo::crypto::test
