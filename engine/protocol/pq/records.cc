#include "protocol/pq/records.h"

#include <array>

#include "protocol/protobuf.h"

namespace velmo::pq {
namespace {

namespace pb = proto::pb;
using Writer = pb::Writer<SecretBytes>;

// Each DecodeInto reads one message into `out` without clearing it, so a
// second occurrence of an embedded message merges into the first: later
// scalars win, repeated fields append.

template <class Buffer>
bool Take(pb::Reader& r, Buffer* out) {
  ByteView v;
  if (!r.ReadBytes(&v)) return false;
  out->assign(v.begin(), v.end());
  return true;
}

template <class M>
bool TakeMessage(pb::Reader& r, M* out);
template <class M>
bool TakeMessage(pb::Reader& r, std::optional<M>* out) {
  if (!out->has_value()) out->emplace();
  return TakeMessage(r, &**out);
}

bool DecodeInto(ByteView in, int depth, ChainParamsRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = r.ReadUint32(&out->max_jump); break;
      case 2: ok = r.ReadUint32(&out->max_ooo_keys); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

bool DecodeInto(ByteView in, int depth, VersionNegotiationRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = Take(r, &out->auth_key); break;
      case 2: ok = r.ReadUint64(&out->direction); break;
      case 3: ok = r.ReadUint64(&out->min_version); break;
      case 4: ok = TakeMessage(r, &out->chain_params); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

bool DecodeInto(ByteView in, int depth, EpochDirectionRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = r.ReadUint32(&out->ctr); break;
      case 2: ok = Take(r, &out->next); break;
      case 3: ok = Take(r, &out->prev); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

bool DecodeInto(ByteView in, int depth, EpochRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = TakeMessage(r, &out->send); break;
      case 2: ok = TakeMessage(r, &out->recv); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

bool DecodeInto(ByteView in, int depth, ChainRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = r.ReadUint64(&out->direction); break;
      case 2: ok = r.ReadUint64(&out->current_epoch); break;
      case 3: ok = TakeMessage(r, &out->links.emplace_back()); break;
      case 4: ok = Take(r, &out->next_root); break;
      case 5: ok = r.ReadUint64(&out->send_epoch); break;
      case 6: ok = TakeMessage(r, &out->params); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

bool DecodeInto(ByteView in, int depth, AuthenticatorRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = Take(r, &out->root_key); break;
      case 2: ok = Take(r, &out->mac_key); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

bool DecodeInto(ByteView in, int depth, EncoderRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = r.ReadUint32(&out->idx); break;
      case 2: ok = Take(r, &out->pts.emplace_back()); break;
      case 3: ok = Take(r, &out->polys.emplace_back()); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

bool DecodeInto(ByteView in, int depth, DecoderRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = r.ReadUint32(&out->pts_needed); break;
      case 2: ok = r.ReadUint32(&out->polys); break;
      case 3: ok = Take(r, &out->pts.emplace_back()); break;
      case 4: ok = r.ReadBool(&out->is_complete); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

// Where each state of the one-of keeps its byte strings and its chunk
// encoder and decoder.
enum class Slot : uint8_t { kNone, kEk, kDk, kHdr, kEs, kCt1 };
enum class Coder : uint8_t { kNone, kEncoder, kDecoder };
struct Layout {
  Slot uc[3];  // fields 3, 4 and 5 of `uc`
  Coder field2;
  Coder field3;
};

constexpr std::array<Layout, 12> kLayouts = {{
    {},  // field 0 is no state
    {{}, Coder::kNone, Coder::kNone},  // KeysUnsampled
    {{Slot::kEk, Slot::kDk}, Coder::kEncoder, Coder::kNone},  // KeysSampled
    {{Slot::kDk}, Coder::kEncoder, Coder::kDecoder},          // HeaderSent
    {{Slot::kDk, Slot::kCt1}, Coder::kEncoder, Coder::kNone},  // Ct1Received
    {{Slot::kDk, Slot::kCt1}, Coder::kNone, Coder::kDecoder},  // EkSentCt1Received
    {{}, Coder::kDecoder, Coder::kNone},            // NoHeaderReceived
    {{Slot::kHdr}, Coder::kDecoder, Coder::kNone},  // HeaderReceived
    {{Slot::kHdr, Slot::kEs, Slot::kCt1}, Coder::kEncoder,
     Coder::kDecoder},  // Ct1Sampled
    {{Slot::kEs, Slot::kEk, Slot::kCt1}, Coder::kEncoder,
     Coder::kNone},  // EkReceivedCt1Sampled
    {{Slot::kHdr, Slot::kEs, Slot::kCt1}, Coder::kDecoder,
     Coder::kNone},                                // Ct1Acknowledged
    {{}, Coder::kEncoder, Coder::kNone},  // Ct2Sampled
}};

bool TakeSlot(pb::Reader& r, Slot slot, V1StateRecord* out) {
  switch (slot) {
    case Slot::kNone: return r.Skip();
    case Slot::kEk: return Take(r, &out->ek);
    case Slot::kDk: return Take(r, &out->dk);
    case Slot::kHdr: return Take(r, &out->hdr);
    case Slot::kEs: return Take(r, &out->es);
    case Slot::kCt1: return Take(r, &out->ct1);
  }
  return false;
}

bool TakeCoder(pb::Reader& r, Coder coder, V1StateRecord* out) {
  switch (coder) {
    case Coder::kNone: return r.Skip();
    case Coder::kEncoder: return TakeMessage(r, &out->encoder);
    case Coder::kDecoder: return TakeMessage(r, &out->decoder);
  }
  return false;
}

// The `uc` message of state `out->state`.
bool DecodeUcInto(ByteView in, int depth, V1StateRecord* out) {
  const Layout& layout = kLayouts[out->state];
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = r.ReadUint64(&out->epoch); break;
      case 2: ok = TakeMessage(r, &out->auth); break;
      case 3:
      case 4:
      case 5: ok = TakeSlot(r, layout.uc[r.field() - 3], out); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

// One state's message (the value of one-of field `out->state`).
bool DecodeStateInto(ByteView in, int depth, V1StateRecord* out) {
  const Layout& layout = kLayouts[out->state];
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: {
        ByteView body;
        ok = r.ReadMessage(&body) &&
             (DecodeUcInto(body, r.depth() + 1, out) || r.Fail());
        break;
      }
      case 2: ok = TakeCoder(r, layout.field2, out); break;
      case 3: ok = TakeCoder(r, layout.field3, out); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

bool DecodeInto(ByteView in, int depth, V1StateRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    const uint32_t field = r.field();
    if (field == 0 || field >= kLayouts.size()) {
      if (!r.Skip()) return false;
      continue;
    }
    // A one-of member merges with an earlier occurrence of itself and
    // replaces one of another member.
    if (out->state != field) {
      *out = V1StateRecord{};
      out->state = field;
    }
    ByteView body;
    if (!r.ReadMessage(&body) ||
        !(DecodeStateInto(body, r.depth() + 1, out) || r.Fail())) {
      return false;
    }
  }
  return r.ok();
}

bool DecodeInto(ByteView in, int depth, PqRatchetStateRecord* out) {
  pb::Reader r(in, depth);
  while (r.Next()) {
    bool ok;
    switch (r.field()) {
      case 1: ok = TakeMessage(r, &out->version_negotiation); break;
      case 2: ok = TakeMessage(r, &out->chain); break;
      case 3: ok = TakeMessage(r, &out->inner); break;
      default: ok = r.Skip();
    }
    if (!ok) return false;
  }
  return r.ok();
}

template <class M>
bool TakeMessage(pb::Reader& r, M* out) {
  ByteView body;
  return r.ReadMessage(&body) &&
         (DecodeInto(body, r.depth() + 1, out) || r.Fail());
}

// Writers, field by field in ascending order.

template <class M>
void WriteMessage(Writer& w, uint32_t field, const M& m);

void Write(Writer& w, const ChainParamsRecord& p) {
  w.Uint32(1, p.max_jump);
  w.Uint32(2, p.max_ooo_keys);
}

void Write(Writer& w, const VersionNegotiationRecord& v) {
  w.Bytes(1, v.auth_key);
  w.Uint64(2, v.direction);
  w.Uint64(3, v.min_version);
  if (v.chain_params) WriteMessage(w, 4, *v.chain_params);
}

void Write(Writer& w, const EpochDirectionRecord& d) {
  w.Uint32(1, d.ctr);
  w.Bytes(2, d.next);
  w.Bytes(3, d.prev);
}

void Write(Writer& w, const EpochRecord& e) {
  if (e.send) WriteMessage(w, 1, *e.send);
  if (e.recv) WriteMessage(w, 2, *e.recv);
}

void Write(Writer& w, const ChainRecord& c) {
  w.Uint64(1, c.direction);
  w.Uint64(2, c.current_epoch);
  for (const EpochRecord& e : c.links) WriteMessage(w, 3, e);
  w.Bytes(4, c.next_root);
  w.Uint64(5, c.send_epoch);
  if (c.params) WriteMessage(w, 6, *c.params);
}

void Write(Writer& w, const AuthenticatorRecord& a) {
  w.Bytes(1, a.root_key);
  w.Bytes(2, a.mac_key);
}

void Write(Writer& w, const EncoderRecord& e) {
  w.Uint32(1, e.idx);
  for (const Bytes& b : e.pts) w.BytesPresent(2, b);
  for (const Bytes& b : e.polys) w.BytesPresent(3, b);
}

void Write(Writer& w, const DecoderRecord& d) {
  w.Uint32(1, d.pts_needed);
  w.Uint32(2, d.polys);
  for (const Bytes& b : d.pts) w.BytesPresent(3, b);
  w.Bool(4, d.is_complete);
}

void WriteSlot(Writer& w, uint32_t field, Slot slot, const V1StateRecord& s) {
  switch (slot) {
    case Slot::kNone: return;
    case Slot::kEk: return w.Bytes(field, s.ek);
    case Slot::kDk: return w.Bytes(field, s.dk);
    case Slot::kHdr: return w.Bytes(field, s.hdr);
    case Slot::kEs: return w.Bytes(field, s.es);
    case Slot::kCt1: return w.Bytes(field, s.ct1);
  }
}

void WriteCoder(Writer& w, uint32_t field, Coder coder,
                const V1StateRecord& s) {
  switch (coder) {
    case Coder::kNone: return;
    case Coder::kEncoder:
      if (s.encoder) WriteMessage(w, field, *s.encoder);
      return;
    case Coder::kDecoder:
      if (s.decoder) WriteMessage(w, field, *s.decoder);
      return;
  }
}

void Write(Writer& w, const V1StateRecord& s) {
  if (s.state == 0 || s.state >= kLayouts.size()) {
    return;  // no member of the one-of is set
  }
  const Layout& layout = kLayouts[s.state];
  const size_t state_at = w.BeginMessage(s.state);
  const size_t uc_at = w.BeginMessage(1);
  w.Uint64(1, s.epoch);
  if (s.auth) WriteMessage(w, 2, *s.auth);
  for (uint32_t i = 0; i < 3; i++) WriteSlot(w, 3 + i, layout.uc[i], s);
  w.EndMessage(uc_at);
  WriteCoder(w, 2, layout.field2, s);
  WriteCoder(w, 3, layout.field3, s);
  w.EndMessage(state_at);
}

void Write(Writer& w, const PqRatchetStateRecord& s) {
  if (s.version_negotiation) WriteMessage(w, 1, *s.version_negotiation);
  if (s.chain) WriteMessage(w, 2, *s.chain);
  if (s.inner) WriteMessage(w, 3, *s.inner);
}

template <class M>
void WriteMessage(Writer& w, uint32_t field, const M& m) {
  const size_t at = w.BeginMessage(field);
  Write(w, m);
  w.EndMessage(at);
}

}  // namespace

bool Decode(ByteView in, PqRatchetStateRecord* out) {
  PqRatchetStateRecord value;
  if (!DecodeInto(in, 0, &value)) return false;
  *out = std::move(value);
  return true;
}

SecretBytes Encode(const PqRatchetStateRecord& state) {
  SecretBytes out;
  // A state with an exchange in flight takes a few kilobytes; one allocation
  // up front spares the wiping allocator most of its regrowth.
  out.reserve(8192);
  Writer w(&out);
  Write(w, state);
  return out;
}

}  // namespace velmo::pq
