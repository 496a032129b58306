// Entry points that exist only in the stand-in PDF library. They let tests
// play the library's reading side without the real library installed.
#ifndef PLATFORM_PDFIUM_INCLUDE_PDFIUM_STANDIN_H_
#define PLATFORM_PDFIUM_INCLUDE_PDFIUM_STANDIN_H_

#include "fpdfview.h"

#ifdef __cplusplus
extern "C" {
#endif

// pdfium_standin_read_block reads size bytes at position through access the
// way the real library does: a range that does not lie inside the document
// fails with 0 without calling the block reader; otherwise the block reader's
// result is returned.
__attribute__((visibility("default"))) int pdfium_standin_read_block(
    const FPDF_FILEACCESS* access,
    unsigned long position,
    unsigned char* buffer,
    unsigned long size);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // PLATFORM_PDFIUM_INCLUDE_PDFIUM_STANDIN_H_
