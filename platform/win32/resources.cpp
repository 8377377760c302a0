// Windows layer, resources: the executable's own PE resources, its strings in the launcher's
// code page on any system.
#include "platform/win32/layer.h"

namespace win32 {

namespace {

// The string table holds Unicode: loaded as it is and converted to the launcher's code page
// here, where the ANSI function would convert it to the system's, which may lack the
// characters (every Japanese text would read "?????" on a Western system).
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  wchar_t wide[kWideTextSize];
  if (LoadStringW(instance, id, wide, kWideTextSize) <= 0) {
    buffer[0] = '\0';
    return 0;
  }
  return WideToLauncherText(wide, buffer, size);
}

}  // namespace

void FillResourceOps(SystemOps& ops) {
  ops.FindResourceA = ::FindResourceA;
  ops.LoadResource = ::LoadResource;
  ops.LockResource = ::LockResource;
  ops.SizeofResource = ::SizeofResource;
  ops.LoadStringA = LoadStringA;
}

}  // namespace win32
