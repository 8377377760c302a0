// The launcher's own module: its custom resources, and paths beside it.
#include "extract/extract.h"
#include "extract/text.h"
#include "platform/system.h"

int ReplaceFileName(char* path, const char* name) {
  return ReplaceFileName(path, payload::kTextSize, name, Sys().IsDBCSLeadByte) ? 1 : 0;
}

const void* LockCustomResource(int id, DWORD* size) {
  const SystemOps& sys = Sys();
  HRSRC resource = sys.FindResourceA(g_run.instance, MAKEINTRESOURCEA(id), payload::kResourceType);
  if (resource == nullptr) return nullptr;
  HGLOBAL loaded = sys.LoadResource(g_run.instance, resource);
  if (loaded == nullptr) return nullptr;
  const void* bytes = sys.LockResource(loaded);
  if (bytes == nullptr) return nullptr;
  *size = sys.SizeofResource(g_run.instance, resource);
  return bytes;
}
