#include "api/protocol/store_frame.h"

#include <utility>

namespace velmo::api {
namespace {

// Each build step reads one list into its store; the first failure ends
// the build.
template <class List, class Load>
std::optional<EngineError> LoadAll(List& entries, Load load) {
  for (auto& entry : entries) {
    proto::Status loaded = load(entry);
    if (!loaded.ok()) return ToEngineError(loaded.error());
  }
  return std::nullopt;
}

std::vector<IdRecord> ToIdRecords(
    std::vector<std::pair<uint32_t, SecretBytes>> records) {
  std::vector<IdRecord> out;
  out.reserve(records.size());
  for (auto& [id, data] : records) out.push_back({id, std::move(data)});
  return out;
}

}  // namespace

EngineError ToEngineError(const proto::Error& error) {
  return EngineErrorFromProtocolFailure(error.message);
}

Outcome<store::ProtocolStores> BuildStores(StoreSnapshot&& snapshot) {
  store::ProtocolStores stores;
  std::optional<EngineError> failed = LoadAll(
      snapshot.identities, [&](const AddressedRecord& e) {
        return stores.identity.Load(e.address, e.data);
      });
  if (!failed) {
    failed = LoadAll(snapshot.sessions, [&](AddressedRecord& e) {
      return stores.sessions.Load(e.address, std::move(e.data));
    });
    snapshot.sessions.clear();
  }
  if (!failed) {
    failed = LoadAll(snapshot.pre_keys, [&](const IdRecord& e) {
      return stores.pre_keys.Load(e.id, e.data);
    });
  }
  if (!failed) {
    failed = LoadAll(snapshot.signed_pre_keys, [&](const IdRecord& e) {
      return stores.signed_pre_keys.Load(e.id, e.data);
    });
  }
  if (!failed) {
    failed = LoadAll(snapshot.kyber_pre_keys, [&](const IdRecord& e) {
      return stores.kyber_pre_keys.Load(e.id, e.data);
    });
  }
  if (failed) return *std::move(failed);
  proto::Status local = stores.identity.LoadLocal(snapshot.identity_key_pair,
                                                  snapshot.registration_id);
  if (!local.ok()) return ToEngineError(local.error());
  return stores;
}

StoreChanges ExportChanges(const store::ProtocolStores& stores) {
  store::ExportedChanges exported = stores.Export();
  StoreChanges out;
  for (auto& [address, record] : exported.sessions) {
    out.sessions.push_back({address, std::move(record)});
  }
  for (auto& [address, key] : exported.identities) {
    out.identities.push_back({address, SecretBytes(key.begin(), key.end())});
  }
  out.replaced_identities = std::move(exported.replaced_identities);
  out.pre_keys = ToIdRecords(std::move(exported.pre_keys));
  out.removed_pre_keys = std::move(exported.removed_pre_keys);
  out.signed_pre_keys = ToIdRecords(std::move(exported.signed_pre_keys));
  out.kyber_pre_keys = ToIdRecords(std::move(exported.kyber_pre_keys));
  out.used_kyber_pre_keys = std::move(exported.used_kyber_pre_keys);
  return out;
}

}  // namespace velmo::api
