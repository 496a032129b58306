// PeerAddress: one device of a peer, the key of session records and of
// remembered identity keys.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace velmo::proto {

struct PeerAddress {
  std::string name;
  uint32_t device_id = 0;

  // Ordered by name byte-wise (a proper prefix first), then by device id;
  // std::string compares bytes as unsigned chars, which is what we want.
  friend auto operator<=>(const PeerAddress&, const PeerAddress&) = default;
  friend bool operator==(const PeerAddress&, const PeerAddress&) = default;

  // As error texts show it: the name, a full stop and the device id.
  std::string ToString() const {
    return name + "." + std::to_string(device_id);
  }
};

}  // namespace velmo::proto
