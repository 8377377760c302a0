// Windows layer, processes, paths and threads: the Windows API, the launcher's own path and the
// temporary directory taken in wide characters, and the shell's execution and COM loaded from
// the system directory when first needed.
#include "platform/win32/layer.h"

namespace win32 {

namespace {

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* info) {
  const auto function = SystemFunction<decltype(&::ShellExecuteExA)>("shell32.dll", "ShellExecuteExA");
  if (function == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return function(info);
}

HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags) {
  const auto function = SystemFunction<decltype(&::CoInitializeEx)>("ole32.dll", "CoInitializeEx");
  return function != nullptr ? function(reserved, flags) : E_FAIL;
}

// The path of the running executable in a form the process's code page holds exactly (under
// C:\Users\José\ on a Japanese system, its short form), so that the volumes and the presets
// file beside it are found. A path too long for `size` gives `size` and an empty text.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  wchar_t wide[kWidePathSize];
  const DWORD length = GetModuleFileNameW(module, wide, kWidePathSize);
  if (length == 0 || size == 0) return 0;
  const DWORD converted = length < kWidePathSize ? WidePathToAnsi(wide, buffer, size) : size;
  if (converted == 0) {
    buffer[0] = '\0';
    return 0;
  }
  if (converted >= size) {
    buffer[0] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  return converted;
}

// The temporary directory in a form the process's code page holds exactly, as above. Returns
// its length, or the size it needs (more than `size`) when it does not fit, however long the
// wide path; 0 when there is none or no form names it exactly.
DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  wchar_t stack[kWidePathSize];
  wchar_t* wide = stack;
  DWORD capacity = kWidePathSize;
  DWORD length = GetTempPathW(capacity, wide);
  // Longer than the stack buffer: GetTempPathW told the units it needs, NUL included.
  HANDLE heap = GetProcessHeap();
  if (length >= capacity) {
    capacity = length;
    wide = static_cast<wchar_t*>(HeapAlloc(heap, 0, capacity * sizeof(wchar_t)));
    length = wide != nullptr ? GetTempPathW(capacity, wide) : 0;
  }
  const DWORD converted = length != 0 && length < capacity ? WidePathToAnsi(wide, buffer, size) : 0;
  if (wide != stack) HeapFree(heap, 0, wide);
  return converted;
}

}  // namespace

void FillProcessOps(SystemOps& ops) {
  ops.GetModuleFileNameA = GetModuleFileNameA;
  ops.GetTempPathA = GetTempPathA;
  ops.GetStartupInfoA = ::GetStartupInfoA;
  ops.CreateProcessA = ::CreateProcessA;
  ops.ShellExecuteExA = ShellExecuteExA;
  ops.CoInitializeEx = CoInitializeEx;
  ops.CreateThread = ::CreateThread;
  ops.GetLastError = ::GetLastError;
  ops.SetLastError = ::SetLastError;
}

}  // namespace win32
