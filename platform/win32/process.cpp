// Windows layer, processes and threads: the Windows API, with the shell's execution and COM
// loaded from the system directory when first needed.
#include "platform/win32/layer.h"

namespace win32 {

namespace {

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* info) {
  using Function = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);
  const Function function = SystemFunction<Function>("shell32.dll", "ShellExecuteExA");
  if (function == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  return function(info);
}

HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD flags) {
  using Function = HRESULT(WINAPI*)(LPVOID, DWORD);
  const Function function = SystemFunction<Function>("ole32.dll", "CoInitializeEx");
  return function != nullptr ? function(reserved, flags) : E_FAIL;
}

}  // namespace

void FillProcessOps(SystemOps& ops) {
  ops.GetModuleFileNameA = ::GetModuleFileNameA;
  ops.GetTempPathA = ::GetTempPathA;
  ops.GetStartupInfoA = ::GetStartupInfoA;
  ops.CreateProcessA = ::CreateProcessA;
  ops.ShellExecuteExA = ShellExecuteExA;
  ops.CoInitializeEx = CoInitializeEx;
  ops.CreateThread = ::CreateThread;
  ops.GetLastError = ::GetLastError;
  ops.SetLastError = ::SetLastError;
}

}  // namespace win32
