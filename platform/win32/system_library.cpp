// Windows layer: DLLs are loaded from the system directory only.
#include "platform/win32/layer.h"

namespace win32 {

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, which older SDK headers may lack.
constexpr DWORD kSearchSystem32 = 0x00000800;

bool CanSearchSystem32Only() {
  // The flags of LoadLibraryExA and SetDefaultDllDirectories came with AddDllDirectory.
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  return kernel != nullptr && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

}  // namespace

void RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return;
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (set_default != nullptr) set_default(kSearchSystem32);
}

HMODULE LoadSystemLibrary(const char* name) {
  if (CanSearchSystem32Only()) return LoadLibraryExA(name, nullptr, kSearchSystem32);
  // Older systems: the full path under the system directory, with the DLL's own dependencies
  // looked for beside it first.
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + static_cast<UINT>(lstrlenA(name)) >= MAX_PATH) return nullptr;
  lstrcatA(path, "\\");
  lstrcatA(path, name);
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace win32
