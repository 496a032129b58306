#include "pdfium_standin.h"

int pdfium_standin_read_block(const FPDF_FILEACCESS* access,
                              unsigned long position,
                              unsigned char* buffer,
                              unsigned long size) {
  if (access == nullptr || access->m_GetBlock == nullptr ||
      position > access->m_FileLen || size > access->m_FileLen - position) {
    return 0;
  }
  return access->m_GetBlock(access->m_Param, position, buffer, size);
}
