// Feeds arbitrary bytes to the bridge decoding of a StoreSnapshot and, when
// that succeeds, to the store build; a snapshot that builds is exported, and
// a store written out and read again must build again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "api/protocol/store_frame.h"
#include "bridge/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velmo;
  bridge::ByteReader reader(std::span<const uint8_t>(data, size));
  api::StoreSnapshot snapshot;
  if (!bridge::Read(reader, &snapshot)) return 0;
  std::vector<api::PeerAddress> addresses;
  for (const api::AddressedRecord& entry : snapshot.sessions) {
    addresses.push_back(entry.address);
  }
  api::Outcome<store::ProtocolStores> stores =
      api::BuildStores(std::move(snapshot));
  if (!stores.ok()) return 0;

  // Store every session back and export: each record must read again.
  store::ProtocolStores& built = stores.value();
  for (const api::PeerAddress& address : addresses) {
    built.sessions.StoreSession(address, *built.sessions.LoadSession(address));
  }
  api::StoreChanges changes = api::ExportChanges(built);
  for (const api::AddressedRecord& entry : changes.sessions) {
    if (!proto::ReadSessionRecord(entry.data).ok()) abort();
  }
  return 0;
}
