// The helpers every part of the extraction shares: file-name replacement and block reads and writes.
#include "extract/extract.h"
#include "extract/text.h"
#include "platform/system.h"

int ReplaceFileName(char* path, const char* name) {
  return ReplaceFileNameIn(path, payload::kTextSize, name, Sys().IsDBCSLeadByte) ? 1 : 0;
}

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
