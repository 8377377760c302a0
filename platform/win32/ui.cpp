// Windows layer, user interface: USER32 itself, and COMCTL32 loaded from the system directory.
#include "platform/win32/layer.h"

namespace win32 {

namespace {

void WINAPI InitCommonControls() {
  using Function = void(WINAPI*)();
  // Loading COMCTL32 registers its window classes, the progress bar among them.
  if (const Function function = SystemFunction<Function>("comctl32.dll", "InitCommonControls")) function();
}

}  // namespace

void FillUiOps(SystemOps& ops) {
  ops.MessageBoxA = ::MessageBoxA;
  ops.DialogBoxParamA = ::DialogBoxParamA;
  ops.EndDialog = ::EndDialog;
  ops.GetWindowRect = ::GetWindowRect;
  ops.GetSystemMetrics = ::GetSystemMetrics;
  ops.MoveWindow = ::MoveWindow;
  ops.PostMessageA = ::PostMessageA;
  ops.SendDlgItemMessageA = ::SendDlgItemMessageA;
  ops.InitCommonControls = InitCommonControls;
}

}  // namespace win32
