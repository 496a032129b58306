// libfolio lets the PDF library read a document whose bytes the application
// fetches asynchronously. The application creates a file-access record and
// hands it to the PDF library's custom-document loader. Each block read the
// library makes calls the application's read function, which only starts the
// fetch; the library's thread then blocks until another thread copies the
// bytes into the buffer and reports the outcome with
// folio_file_access_set_value.
#ifndef PLUGINS_FOLIO_INCLUDE_FOLIO_FILE_ACCESS_H_
#define PLUGINS_FOLIO_INCLUDE_FOLIO_FILE_ACCESS_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define FOLIO_EXPORT __attribute__((visibility("default")))

// A file-access record. Its head is the PDF library's FPDF_FILEACCESS, so a
// pointer to it can be passed where the library expects one.
typedef struct FolioFileAccess FolioFileAccess;

// FolioReadFunction starts fetching size bytes at position into buffer and
// returns at once. It is called on the PDF library's thread with the record's
// lock held, so it must not call folio_file_access_set_value itself: another
// thread does that once the bytes are in buffer.
typedef void (*FolioReadFunction)(void* user_data,
                                  unsigned long position,
                                  unsigned char* buffer,
                                  unsigned long size);

// folio_file_access_create returns a record for a document of file_len bytes
// whose reads go to read with user_data. The caller owns the record and frees
// it with folio_file_access_destroy once the PDF library is done with it.
// Returns NULL when memory is exhausted.
FOLIO_EXPORT FolioFileAccess* folio_file_access_create(unsigned long file_len,
                                                       FolioReadFunction read,
                                                       void* user_data);

// folio_file_access_destroy frees access; NULL is ignored. No read may be in
// progress.
FOLIO_EXPORT void folio_file_access_destroy(FolioFileAccess* access);

// folio_file_access_set_value ends the read in progress on access: the PDF
// library's block read returns value, so report non-zero (for instance the
// number of bytes provided) on success and 0 on failure. Every read must be
// answered exactly once; an unanswered read blocks the PDF library for good.
FOLIO_EXPORT void folio_file_access_set_value(FolioFileAccess* access,
                                              int32_t value);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // PLUGINS_FOLIO_INCLUDE_FOLIO_FILE_ACCESS_H_
