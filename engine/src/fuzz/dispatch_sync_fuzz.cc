// engine_dispatch_sync with any operation number and any argument bytes.
// Input: one byte choosing the operation (0-23 and, rarely, a wild number),
// one byte of allocation slack, then the argument bytes. Every reply must be
// ok, error or fault, and well-formed as such.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "api/engine_error.h"
#include "api/operation_table.h"
#include "bridge/codec.h"
#include "bridge/encoding.h"
#include "velmo_core.h"

namespace {

void Check(bool ok) {
  if (!ok) {
    std::abort();
  }
}

void CheckReply(int32_t op, const uint8_t* data, size_t len) {
  Check(len >= 1 && data != nullptr);
  velmo::bridge::ByteReader payload({data + 1, len - 1});
  switch (data[0]) {
    case 0: {
      const velmo::api::Operation* entry = velmo::api::FindOperation(op);
      Check(entry != nullptr && entry->read_result(payload));
      break;
    }
    case 1: {
      velmo::api::EngineError error;
      Check(velmo::bridge::Read(payload, &error) && payload.at_end());
      break;
    }
    case 3: {
      std::string_view text;
      Check(payload.ReadText(&text) && payload.at_end() && !text.empty());
      break;
    }
    default:
      Check(false);
  }
}

// The pre-key generators make as many keys as the count asks for (up to
// 2^32 - 1): honest work, but more than a fuzzing run can wait or hold. Inputs
// that ask for more than a few keys are left out.
bool AsksForManyKeys(int32_t op, const uint8_t* args, size_t len) {
  constexpr uint32_t kMaxKeys = 8;
  size_t count_at;
  if (op == 6) {
    count_at = 4;  // start, count
  } else if (op == 5) {
    uint32_t pair_len;  // identity key pair, start, count
    if (len < 4) return false;
    std::memcpy(&pair_len, args, 4);
    if (pair_len > len - 4) return false;
    count_at = 4 + pair_len + 4;
  } else {
    return false;
  }
  uint32_t count;
  if (count_at > len || len - count_at < 4) return false;
  std::memcpy(&count, args + count_at, 4);
  return count > kMaxKeys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* in, size_t size) {
  if (size < 2 || size > (1u << 20)) {
    return 0;
  }
  int32_t op = in[0] < 240 ? in[0] % 24 : static_cast<int8_t>(in[0]) * 1000;
  int32_t slack = in[1] % 4;
  int32_t len = static_cast<int32_t>(size - 2);
  if (AsksForManyKeys(op, in + 2, size - 2)) {
    return 0;
  }
  uint8_t* args = engine_bytes_new(len + slack);
  if (len > 0) {
    std::memcpy(args, in + 2, static_cast<size_t>(len));
  }
  EngineSyncReply reply = engine_dispatch_sync(op, args, len + slack, len);
  CheckReply(op, reply.data, static_cast<size_t>(reply.len));
  engine_free_sync_reply(reply.data, reply.len);
  return 0;
}
