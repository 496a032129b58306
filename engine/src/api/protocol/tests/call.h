// Calls an operation the way the Dart side does: arguments in the bridge
// encoding in a buffer from engine_bytes_new, engine_dispatch_sync, and the
// reply decoded by its action byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/engine_error.h"
#include "bridge/codec.h"
#include "bridge/encoding.h"
#include "velmo_core.h"

namespace velmo::api::testing {

template <class R>
struct Reply {
  uint8_t action = 0xff;  // 0 ok, 1 error, 3 fault
  R value{};
  EngineError error;
  std::string fault;
  std::vector<uint8_t> bytes;  // the whole reply
};

inline std::vector<uint8_t> Dispatch(int32_t op, std::span<const uint8_t> args) {
  int32_t len = static_cast<int32_t>(args.size());
  uint8_t* buf = engine_bytes_new(len);
  if (len != 0) std::memcpy(buf, args.data(), args.size());
  EngineSyncReply reply = engine_dispatch_sync(op, buf, len, len);
  std::vector<uint8_t> out(reply.data, reply.data + reply.len);
  engine_free_sync_reply(reply.data, reply.len);
  return out;
}

template <class R, class... A>
Reply<R> Call(int32_t op, const A&... args) {
  bridge::ByteWriter w;
  (bridge::Write(w, args), ...);
  Reply<R> out;
  out.bytes = Dispatch(op, w.view());
  if (out.bytes.empty()) return out;
  bridge::ByteReader r(std::span<const uint8_t>(out.bytes).subspan(1));
  switch (out.bytes[0]) {
    case 0:
      if (bridge::Read(r, &out.value) && r.at_end()) out.action = 0;
      break;
    case 1:
      if (bridge::Read(r, &out.error) && r.at_end()) out.action = 1;
      break;
    case 3:
      out.fault.assign(out.bytes.begin() + 5, out.bytes.end());
      out.action = 3;
      break;
  }
  return out;
}

}  // namespace velmo::api::testing
