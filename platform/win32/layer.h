// What the files of the Windows layer share: the per-area fill functions of the table and the
// loading of system DLLs from the system directory only.
#pragma once

#include "platform/system.h"

namespace win32 {

void FillFileOps(SystemOps& ops);
void FillProfileOps(SystemOps& ops);
void FillResourceOps(SystemOps& ops);
void FillProcessOps(SystemOps& ops);
void FillTextOps(SystemOps& ops);
void FillUiOps(SystemOps& ops);
void FillLzOps(SystemOps& ops);

// Restricts the DLL search of this process to the system directory where Windows can
// (Windows 8, or 7 with its update KB2533623), so that no DLL planted beside the launcher is
// ever loaded. Reached through GetProcAddress: a static import would stop older systems.
void RestrictDllSearch();

// Loads a DLL from the system directory only, never from the launcher's directory. Null when
// it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// The address of `function` in the system DLL `library`, or null. Loads the DLL on first use.
template <typename Function>
Function SystemFunction(const char* library, const char* function) {
  HMODULE module = LoadSystemLibrary(library);
  if (module == nullptr) return nullptr;
  // Through a generic function pointer: the conversion from FARPROC is then well defined.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, function)));
}

}  // namespace win32
