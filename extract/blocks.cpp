// Block reads and writes: every volume read and output write of the extraction goes through them.
#include "extract/extract.h"
#include "platform/system.h"

DWORD ReadBlock(HANDLE file, void* buffer, DWORD n) {
  DWORD read = 0;
  if (!Sys().ReadFile(file, buffer, n, &read, nullptr)) return 0;
  return read;
}

int WriteBlock(HANDLE file, const void* buffer, DWORD n) {
  DWORD written = 0;
  if (!Sys().WriteFile(file, buffer, n, &written, nullptr)) return 0;
  return written == n ? 1 : 0;
}
