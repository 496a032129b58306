// The file-access record's layout, for the implementation and its tests. The
// head and the fields after it keep the documented order; the delivery count
// comes last so that nothing before it moves.
#ifndef PLUGINS_FOLIO_SRC_INTERNAL_H_
#define PLUGINS_FOLIO_SRC_INTERNAL_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <type_traits>

#include "folio/file_access.h"
#include "fpdfview.h"

struct FolioFileAccess {
  FPDF_FILEACCESS head;  // m_Param points back at this record
  int32_t result;        // last delivered value, not reset between reads
  FolioReadFunction read;
  void* user_data;
  std::mutex lock;  // guards result, deliveries and the hand-over
  std::condition_variable wake_up;
  // Counts deliveries. A read waits until the count moves past the value it
  // saw before starting the fetch, so a spurious wake-up cannot end it.
  uint64_t deliveries;
};

static_assert(sizeof(unsigned long) == 8, "file lengths are 64-bit");
static_assert(std::is_standard_layout_v<FolioFileAccess>);
static_assert(offsetof(FolioFileAccess, head) == 0,
              "the PDF library reads the head through the record's address");

#endif  // PLUGINS_FOLIO_SRC_INTERNAL_H_
