// A resource served from memory: the POSIX layer serves the launcher's record so, and the
// stand-ins of the tests and of the packer's dry run serve theirs. FindResourceA gives a
// pointer to one as its handle; these three are then the rest of the resource operations.
#pragma once

#include "platform/winapi.h"

struct MemoryResource {
  const void* data;
  DWORD size;
};

inline HGLOBAL WINAPI LoadMemoryResource(HMODULE, HRSRC resource) { return reinterpret_cast<HGLOBAL>(resource); }

inline LPVOID WINAPI LockMemoryResource(HGLOBAL loaded) {
  return loaded == nullptr ? nullptr : const_cast<void*>(static_cast<const MemoryResource*>(loaded)->data);
}

inline DWORD WINAPI SizeofMemoryResource(HMODULE, HRSRC resource) {
  return resource == nullptr ? 0 : reinterpret_cast<const MemoryResource*>(resource)->size;
}
