// The part of the PDF library's public interface that the PDF helper relies
// on: the record through which the library reads a document it does not hold
// in memory. Only the layout matters; the real library's header declares the
// same three fields in the same order, so code built against this one works
// against the real library unchanged.
#ifndef PLATFORM_PDFIUM_INCLUDE_FPDFVIEW_H_
#define PLATFORM_PDFIUM_INCLUDE_FPDFVIEW_H_

#ifdef __cplusplus
extern "C" {
#endif

// FPDF_FILEACCESS describes a document of m_FileLen bytes. The library reads
// it in blocks by calling m_GetBlock(m_Param, position, buffer, size), which
// fills buffer with size bytes starting at position and returns non-zero on
// success, zero on failure.
typedef struct FPDF_FILEACCESS {
  unsigned long m_FileLen;
  int (*m_GetBlock)(void* param,
                    unsigned long position,
                    unsigned char* buffer,
                    unsigned long size);
  void* m_Param;
} FPDF_FILEACCESS;

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // PLATFORM_PDFIUM_INCLUDE_FPDFVIEW_H_
