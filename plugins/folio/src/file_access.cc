#include <cstdlib>
#include <new>

#include "internal.h"

namespace {

// Called by the PDF library on its own thread for every block it reads.
int ReadBlock(void* param,
              unsigned long position,
              unsigned char* buffer,
              unsigned long size) {
  auto* access = static_cast<FolioFileAccess*>(param);
  // The lock is held from before the fetch starts until the wait releases
  // it, so a delivery cannot slip in before the reader is waiting.
  std::unique_lock<std::mutex> held(access->lock);
  const uint64_t seen = access->deliveries;
  access->read(access->user_data, position, buffer, size);
  access->wake_up.wait(held, [&] { return access->deliveries != seen; });
  return access->result;
}

}  // namespace

extern "C" {

FolioFileAccess* folio_file_access_create(unsigned long file_len,
                                          FolioReadFunction read,
                                          void* user_data) {
  // Zero-filled first so that the padding between fields is defined too; the
  // fields themselves are value-initialized by the construction below.
  void* memory = std::calloc(1, sizeof(FolioFileAccess));
  if (memory == nullptr) {
    return nullptr;
  }
  auto* access = new (memory) FolioFileAccess{};
  access->head.m_FileLen = file_len;
  access->head.m_GetBlock = ReadBlock;
  access->head.m_Param = access;
  access->read = read;
  access->user_data = user_data;
  return access;
}

void folio_file_access_destroy(FolioFileAccess* access) {
  if (access == nullptr) {
    return;
  }
  access->~FolioFileAccess();
  std::free(access);
}

void folio_file_access_set_value(FolioFileAccess* access, int32_t value) {
  // Blocks while the reader is still inside the read function; it holds the
  // lock until it waits, so the wake-up below always finds it waiting.
  std::lock_guard<std::mutex> held(access->lock);
  access->result = value;
  ++access->deliveries;
  access->wake_up.notify_one();
}

}  // extern "C"
