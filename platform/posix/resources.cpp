// POSIX layer, resources: the two custom resources from the launcher's ELF record, and the
// string table generated from the resource script.
#include <cstring>
#include <mutex>

#include "format/layout.h"
#include "format/names.h"
#include "platform/memory_resource.h"
#include "platform/posix/layer.h"
#include "res/rcdata.h"

namespace posix {

namespace {

// A copy of the ELF record, taken once through the volatile object.
rcdata::ResourceRecord g_record;
MemoryResource g_offset_resource;
MemoryResource g_version_resource;
std::once_flag g_record_once;

void TakeRecord() {
  const volatile unsigned char* from = reinterpret_cast<const volatile unsigned char*>(&qmr_resource_record);
  auto* to = reinterpret_cast<unsigned char*>(&g_record);
  for (std::size_t i = 0; i < sizeof g_record; ++i) to[i] = from[i];
  g_offset_resource = {g_record.payload_offset, sizeof g_record.payload_offset};
  g_version_resource = {g_record.version, sizeof g_record.version};
}

bool IsCustomDataType(LPCSTR type) {
  if (IS_INTRESOURCE(type)) return false;
  return payload::EqualIgnoringAsciiCase(type, payload::kResourceType);
}

HRSRC WINAPI FindResourceA(HMODULE, LPCSTR name, LPCSTR type) {
  std::call_once(g_record_once, TakeRecord);
  if (!IS_INTRESOURCE(name) || !IsCustomDataType(type)) return Fail(ERROR_RESOURCE_TYPE_NOT_FOUND, nullptr);
  switch (reinterpret_cast<std::uintptr_t>(name)) {
    case payload::kOffsetResourceId: return reinterpret_cast<HRSRC>(&g_offset_resource);
    case payload::kVersionResourceId: return reinterpret_cast<HRSRC>(&g_version_resource);
    default: return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, nullptr);
  }
}

int WINAPI LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  for (int i = 0; i < rcdata::kStringCount; ++i) {
    if (rcdata::kStrings[i].id != id) continue;
    const char* text = rcdata::kStrings[i].text;
    return static_cast<int>(CopyWholeCharacters(text, std::strlen(text), buffer, static_cast<std::size_t>(size)));
  }
  buffer[0] = '\0';
  return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, 0);
}

}  // namespace

void FillResourceOps(SystemOps& ops) {
  ops.FindResourceA = FindResourceA;
  ops.LoadResource = LoadMemoryResource;
  ops.LockResource = LockMemoryResource;
  ops.SizeofResource = SizeofMemoryResource;
  ops.LoadStringA = LoadStringA;
}

}  // namespace posix
