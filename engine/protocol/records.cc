#include "protocol/records.h"

#include "protocol/protobuf.h"

namespace velmo::proto {
namespace {

using Writer = pb::Writer<SecretBytes>;

// Each DecodeInto reads one message into `out` without clearing it first, so
// a second occurrence of an embedded message merges into the first: later
// scalars win, repeated fields append. Field helpers keep the cases one line
// each.

bool Take(pb::Reader& r, KeyBytes* out) {
  ByteView v;
  if (!r.ReadBytes(&v)) return false;
  out->assign(v);
  return true;
}

template <class Buffer>
bool Take(pb::Reader& r, Buffer* out) {
  ByteView v;
  if (!r.ReadBytes(&v)) return false;
  out->assign(v.begin(), v.end());
  return true;
}

// Reads an embedded message of type M into `out`, merging.
template <class M>
bool TakeMessage(pb::Reader& r, M* out);
template <class M>
bool TakeMessage(pb::Reader& r, std::optional<M>* out);

bool DecodeInto(ByteView in, int depth, ChainKey* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return r.ReadUint32(&out->index);
      case 2: return Take(r, &out->key);
      default: return r.Skip();
    }
  });
}

bool DecodeInto(ByteView in, int depth, MessageKey* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return r.ReadUint32(&out->index);
      case 2: return Take(r, &out->cipher_key);
      case 3: return Take(r, &out->mac_key);
      case 4: return Take(r, &out->iv);
      case 5: return Take(r, &out->seed);
      default: return r.Skip();
    }
  });
}

bool DecodeInto(ByteView in, int depth, Chain* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return Take(r, &out->sender_ratchet_key);
      case 2: return Take(r, &out->sender_ratchet_key_private);
      case 3: return TakeMessage(r, &out->chain_key);
      case 4: return TakeMessage(r, &out->message_keys.emplace_back());
      default: return r.Skip();
    }
  });
}

bool DecodeInto(ByteView in, int depth, PendingPreKey* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return r.ReadUint32(&out->pre_key_id.emplace());
      case 2: return Take(r, &out->base_key);
      case 3: return r.ReadInt32(&out->signed_pre_key_id);
      case 4: return r.ReadUint64(&out->timestamp);
      default: return r.Skip();
    }
  });
}

bool DecodeInto(ByteView in, int depth, PendingKyberPreKey* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return r.ReadUint32(&out->pre_key_id);
      case 2: return Take(r, &out->ciphertext);
      default: return r.Skip();
    }
  });
}

bool DecodeInto(ByteView in, int depth, SessionStructure* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return r.ReadUint32(&out->session_version);
      case 2: return Take(r, &out->local_identity_public);
      case 3: return Take(r, &out->remote_identity_public);
      case 4: return Take(r, &out->root_key);
      case 5: return r.ReadUint32(&out->previous_counter);
      case 6: return TakeMessage(r, &out->sender_chain);
      case 7: return TakeMessage(r, &out->receiver_chains.emplace_back());
      case 9: return TakeMessage(r, &out->pending_pre_key);
      case 10: return r.ReadUint32(&out->remote_registration_id);
      case 11: return r.ReadUint32(&out->local_registration_id);
      case 13: return Take(r, &out->alice_base_key);
      case 14: return TakeMessage(r, &out->pending_kyber_pre_key);
      case 15: return Take(r, &out->pq_ratchet_state);
      default: return r.Skip();
    }
  });
}

bool DecodeInto(ByteView in, int depth, RecordStructure* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return TakeMessage(r, &out->current_session);
      case 2: {
        // A view of the input for now; the caller of DecodeInto decides
        // who owns the bytes (see Decode below).
        ByteView archived;
        if (!r.ReadBytes(&archived)) return false;
        out->previous_sessions.emplace_back(nullptr, archived);
        return true;
      }
      default: return r.Skip();
    }
  });
}

bool DecodeInto(ByteView in, int depth, PreKeyRecordStructure* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return r.ReadUint32(&out->id);
      case 2: return Take(r, &out->public_key);
      case 3: return Take(r, &out->private_key);
      default: return r.Skip();
    }
  });
}

bool DecodeInto(ByteView in, int depth, SignedPreKeyRecordStructure* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return r.ReadUint32(&out->id);
      case 2: return Take(r, &out->public_key);
      case 3: return Take(r, &out->private_key);
      case 4: return Take(r, &out->signature);
      case 5: return r.ReadFixed64(&out->timestamp);
      default: return r.Skip();
    }
  });
}

bool DecodeInto(ByteView in, int depth, IdentityKeyPairStructure* out) {
  return pb::ReadFields(in, depth, [&](pb::Reader& r) {
    switch (r.field()) {
      case 1: return Take(r, &out->public_key);
      case 2: return Take(r, &out->private_key);
      default: return r.Skip();
    }
  });
}

template <class M>
bool TakeMessage(pb::Reader& r, M* out) {
  ByteView body;
  return r.ReadMessage(&body) && (DecodeInto(body, r.depth() + 1, out) || r.Fail());
}

template <class M>
bool TakeMessage(pb::Reader& r, std::optional<M>* out) {
  if (!out->has_value()) out->emplace();
  return TakeMessage(r, &**out);
}

template <class M>
bool DecodeTop(ByteView in, M* out) {
  M value;
  if (!DecodeInto(in, 0, &value)) return false;
  *out = std::move(value);
  return true;
}

// Writers, field by field in ascending order.

void Write(Writer& w, const Chain& c);
void Write(Writer& w, const PendingPreKey& p);
void Write(Writer& w, const PendingKyberPreKey& p);
void Write(Writer& w, const SessionStructure& s);

void Write(Writer& w, const ChainKey& k) {
  w.Uint32(1, k.index);
  w.Bytes(2, k.key);
}

void Write(Writer& w, const MessageKey& k) {
  w.Uint32(1, k.index);
  w.Bytes(2, k.cipher_key);
  w.Bytes(3, k.mac_key);
  w.Bytes(4, k.iv);
  w.Bytes(5, k.seed);
}

template <class M>
void WriteMessage(Writer& w, uint32_t field, const M& m) {
  size_t at = w.BeginMessage(field);
  Write(w, m);
  w.EndMessage(at);
}

void Write(Writer& w, const Chain& c) {
  w.Bytes(1, c.sender_ratchet_key);
  w.Bytes(2, c.sender_ratchet_key_private);
  if (c.chain_key) WriteMessage(w, 3, *c.chain_key);
  for (const MessageKey& k : c.message_keys) WriteMessage(w, 4, k);
}

void Write(Writer& w, const PendingPreKey& p) {
  if (p.pre_key_id) w.Uint32Present(1, *p.pre_key_id);
  w.Bytes(2, p.base_key);
  w.Int32(3, p.signed_pre_key_id);
  w.Uint64(4, p.timestamp);
}

void Write(Writer& w, const PendingKyberPreKey& p) {
  w.Uint32(1, p.pre_key_id);
  w.Bytes(2, p.ciphertext);
}

void Write(Writer& w, const SessionStructure& s) {
  w.Uint32(1, s.session_version);
  w.Bytes(2, s.local_identity_public);
  w.Bytes(3, s.remote_identity_public);
  w.Bytes(4, s.root_key);
  w.Uint32(5, s.previous_counter);
  if (s.sender_chain) WriteMessage(w, 6, *s.sender_chain);
  for (const Chain& c : s.receiver_chains) WriteMessage(w, 7, c);
  if (s.pending_pre_key) WriteMessage(w, 9, *s.pending_pre_key);
  w.Uint32(10, s.remote_registration_id);
  w.Uint32(11, s.local_registration_id);
  w.Bytes(13, s.alice_base_key);
  if (s.pending_kyber_pre_key) WriteMessage(w, 14, *s.pending_kyber_pre_key);
  w.Bytes(15, s.pq_ratchet_state);
}

void Write(Writer& w, const RecordStructure& r) {
  if (r.current_session) WriteMessage(w, 1, *r.current_session);
  // Archived entries are written as stored, empty ones included: each is a
  // serialized state in its own right.
  for (const SharedBytes& s : r.previous_sessions) w.BytesPresent(2, s);
}

void Write(Writer& w, const PreKeyRecordStructure& p) {
  w.Uint32(1, p.id);
  w.Bytes(2, p.public_key);
  w.Bytes(3, p.private_key);
}

void Write(Writer& w, const SignedPreKeyRecordStructure& p) {
  w.Uint32(1, p.id);
  w.Bytes(2, p.public_key);
  w.Bytes(3, p.private_key);
  w.Bytes(4, p.signature);
  w.Fixed64(5, p.timestamp);
}

void Write(Writer& w, const IdentityKeyPairStructure& p) {
  w.Bytes(1, p.public_key);
  w.Bytes(2, p.private_key);
}

template <class M>
SecretBytes EncodeTop(const M& m) {
  SecretBytes out;
  out.reserve(128);
  Writer w(&out);
  Write(w, m);
  return out;
}

}  // namespace

namespace {

// The archived states of a freshly decoded record view `in`; they are made
// to share `owner`, which holds the same bytes as `in`.
void AdoptArchived(ByteView in, const std::shared_ptr<const SecretBytes>& owner,
                   RecordStructure* record) {
  for (SharedBytes& archived : record->previous_sessions) {
    size_t offset = static_cast<size_t>(archived.data() - in.data());
    archived = SharedBytes(
        owner, ByteView(*owner).subspan(offset, archived.size()));
  }
}

}  // namespace

bool Decode(ByteView in, RecordStructure* out) {
  RecordStructure record;
  if (!DecodeInto(in, 0, &record)) return false;
  if (!record.previous_sessions.empty()) {
    // One copy of the input for all archived states.
    AdoptArchived(in, std::make_shared<const SecretBytes>(in.begin(), in.end()),
                  &record);
  }
  *out = std::move(record);
  return true;
}

bool Decode(std::shared_ptr<const SecretBytes> in, RecordStructure* out) {
  RecordStructure record;
  if (!DecodeInto(*in, 0, &record)) return false;
  AdoptArchived(*in, in, &record);
  *out = std::move(record);
  return true;
}
bool Decode(ByteView in, SessionStructure* out) { return DecodeTop(in, out); }
bool Decode(ByteView in, PreKeyRecordStructure* out) {
  return DecodeTop(in, out);
}
bool Decode(ByteView in, SignedPreKeyRecordStructure* out) {
  return DecodeTop(in, out);
}
bool Decode(ByteView in, IdentityKeyPairStructure* out) {
  return DecodeTop(in, out);
}

SecretBytes Encode(const RecordStructure& m) { return EncodeTop(m); }
SecretBytes Encode(const SessionStructure& m) { return EncodeTop(m); }
SecretBytes Encode(const PreKeyRecordStructure& m) { return EncodeTop(m); }
SecretBytes Encode(const SignedPreKeyRecordStructure& m) {
  return EncodeTop(m);
}
SecretBytes Encode(const IdentityKeyPairStructure& m) { return EncodeTop(m); }

namespace {

template <class In>
Result<RecordStructure> ReadRecord(In in) {
  RecordStructure record;
  if (!Decode(std::move(in), &record)) {
    return errors::InvalidSession("failed to decode session record protobuf");
  }
  return record;
}

}  // namespace

Result<RecordStructure> ReadSessionRecord(ByteView in) {
  return ReadRecord(in);
}

Result<RecordStructure> ReadSessionRecord(
    std::shared_ptr<const SecretBytes> in) {
  return ReadRecord(std::move(in));
}

Result<SessionStructure> ReadArchivedSession(ByteView in) {
  SessionStructure state;
  if (!Decode(in, &state)) {
    return errors::InvalidSession("failed to decode previous session protobuf");
  }
  return state;
}

Result<PreKeyRecordStructure> ReadPreKeyRecord(ByteView in) {
  PreKeyRecordStructure record;
  if (!Decode(in, &record)) return errors::InvalidProtobuf();
  return record;
}

Result<SignedPreKeyRecordStructure> ReadSignedPreKeyRecord(ByteView in) {
  SignedPreKeyRecordStructure record;
  if (!Decode(in, &record)) return errors::InvalidProtobuf();
  return record;
}

}  // namespace velmo::proto
