#include "protocol/pq/message.h"

#include "protocol/protobuf.h"

namespace velmo::pq {

namespace {

void AddVarint(Bytes& out, uint64_t v) {
  while (v >= 0x80) {
    out.push_back(static_cast<uint8_t>(v | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<uint8_t>(v));
}

}  // namespace

Bytes EncodeMessage(const Message& m) {
  Bytes out = {kVersion1};
  AddVarint(out, m.epoch);
  AddVarint(out, m.index);
  out.push_back(static_cast<uint8_t>(m.type));
  if (m.chunk) {
    AddVarint(out, m.chunk->index);
    out.insert(out.end(), m.chunk->data.begin(), m.chunk->data.end());
  }
  return out;
}

Result<Message> DecodeMessage(ByteView in) {
  if (in.empty() || in[0] != kVersion1) {
    return errors::MessageDecode();
  }
  in = in.subspan(1);
  Message m;
  uint64_t index;
  if (!proto::pb::ReadVarint(&in, &m.epoch) ||
      !proto::pb::ReadVarint(&in, &index) || index > UINT32_MAX ||
      in.empty() || in[0] > static_cast<uint8_t>(MessageType::kCt2)) {
    return errors::MessageDecode();
  }
  m.index = static_cast<uint32_t>(index);
  m.type = static_cast<MessageType>(in[0]);
  in = in.subspan(1);
  if (CarriesChunk(m.type)) {
    uint64_t chunk_index;
    if (!proto::pb::ReadVarint(&in, &chunk_index) ||
        chunk_index > kMaxChunkIndex || in.size() < kChunkDataBytes) {
      return errors::MessageDecode();
    }
    Chunk& c = m.chunk.emplace();
    c.index = static_cast<uint16_t>(chunk_index);
    std::copy(in.begin(), in.begin() + kChunkDataBytes, c.data.begin());
  }
  return m;
}

}  // namespace velmo::pq
