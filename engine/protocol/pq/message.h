// The post-quantum part of an ordinary message (its `pq_ratchet` field):
//
//   version byte 1 | varint epoch | varint key index | type byte
//   | for types 1, 2, 3, 5, 6: varint chunk index, 32 bytes of chunk data
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/pq/chunk_code.h"
#include "protocol/pq/error.h"

namespace velmo::pq {

inline constexpr uint8_t kVersion1 = 1;

enum class MessageType : uint8_t {
  kNone = 0,       // nothing to send
  kHdr = 1,        // chunk of the header object
  kEk = 2,         // chunk of the encapsulation-key vector
  kEkCt1Ack = 3,   // the same, and ciphertext part 1 arrived complete
  kCt1Ack = 4,     // ciphertext part 1 arrived complete
  kCt1 = 5,        // chunk of ciphertext part 1
  kCt2 = 6,        // chunk of the ciphertext-2 object
};

constexpr bool CarriesChunk(MessageType t) {
  return t != MessageType::kNone && t != MessageType::kCt1Ack;
}

struct Message {
  uint64_t epoch = 0;   // the sender's key-exchange epoch
  uint32_t index = 0;   // key index in chain epoch `epoch` - 1
  MessageType type = MessageType::kNone;
  std::optional<Chunk> chunk;  // present exactly when CarriesChunk(type)

  bool operator==(const Message&) const = default;
};

// EncodeMessage writes a version-1 message.
Bytes EncodeMessage(const Message& m);

// DecodeMessage reads a message whose first byte is 1. "message decode
// failed" when a varint is broken, the index exceeds 32 bits, the type is 7 or
// more, the chunk index exceeds 65535 or the chunk data is short. Bytes after
// the message are ignored.
Result<Message> DecodeMessage(ByteView in);

}  // namespace velmo::pq
