// Windows layer, user interface: USER32, its texts shown through the wide-character functions
// from the launcher's code page, and COMCTL32 loaded from the system directory.
#include "platform/win32/layer.h"

namespace win32 {

namespace {

// The texts are in the launcher's code page: converted from it here, so they read right
// whatever the system's code page is.
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  wchar_t wide_text[kWideTextSize], wide_caption[kWideTextSize];
  return MessageBoxW(owner, LauncherTextToWide(text, wide_text, kWideTextSize),
                     LauncherTextToWide(caption, wide_caption, kWideTextSize), style);
}

// A dialog template holds Unicode: the wide function makes the dialog and its controls with
// those texts as they are, where the ANSI one would pass them through the system's code page.
// The dialog procedure handles no text, so it serves the wide dialog unchanged.
INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC procedure,
                               LPARAM parameter) {
  wchar_t wide_name[kWideTextSize];
  const wchar_t* name = IS_INTRESOURCE(template_name)
                            ? MAKEINTRESOURCEW(LOWORD(reinterpret_cast<ULONG_PTR>(template_name)))
                            : LauncherTextToWide(template_name, wide_name, kWideTextSize);
  return DialogBoxParamW(instance, name, owner, procedure, parameter);
}

void WINAPI InitCommonControls() {
  // Loading COMCTL32 registers its window classes, the progress bar among them.
  if (const auto function = SystemFunction<decltype(&::InitCommonControls)>("comctl32.dll", "InitCommonControls"))
    function();
}

}  // namespace

void FillUiOps(SystemOps& ops) {
  ops.MessageBoxA = MessageBoxA;
  ops.DialogBoxParamA = DialogBoxParamA;
  ops.EndDialog = ::EndDialog;
  ops.GetWindowRect = ::GetWindowRect;
  ops.GetSystemMetrics = ::GetSystemMetrics;
  ops.MoveWindow = ::MoveWindow;
  ops.PostMessageA = ::PostMessageA;
  ops.SendDlgItemMessageA = ::SendDlgItemMessageA;
  ops.InitCommonControls = InitCommonControls;
}

}  // namespace win32
