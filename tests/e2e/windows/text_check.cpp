// The Windows layer's texts where the system ignores the launcher's request for code page 932:
// this program has no such request, so under an English locale its process code page is 1252.
// Through the layer's own table it loads the launcher's strings from the real qmrsfx.exe (as
// data), writes their bytes to a file, then shows the confirmation and the progress dialog as
// the launcher does, for the test to read and answer.
//
//   qmrtextcheck QMRSFX_EXE OUT    writes "acp <code page>" and "string <id>[/<size>] <hex bytes>"
//                                  lines
#include "platform/system.h"
#include "res/ids.h"

namespace {

HANDLE g_out;

void Write(const char* text) {
  DWORD written = 0;
  WriteFile(g_out, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
}

// Writes "string <id> <hex>" for a string as the table's LoadStringA gives it into `size`
// bytes ("string <id>/<size> <hex>" for a buffer smaller than the launcher's 260).
void WriteString(HINSTANCE launcher, UINT id, char* text, int size = 260) {
  const int length = NativeSystem().LoadStringA(launcher, id, text, size);
  char line[1024];
  int n = size == 260 ? wsprintfA(line, "string %u ", id) : wsprintfA(line, "string %u/%d ", id, size);
  for (int i = 0; i < length; ++i) n += wsprintfA(line + n, "%02x", static_cast<unsigned char>(text[i]));
  lstrcatA(line, "\n");
  Write(line);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
    NativeSystem().EndDialog(dialog, LOWORD(wparam));
    return TRUE;
  }
  return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const SystemOps& sys = NativeSystem();
  HMODULE launcher = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  g_out = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (launcher == nullptr || g_out == INVALID_HANDLE_VALUE) return 1;
  char acp[32];
  wsprintfA(acp, "acp %u\n", GetACP());
  Write(acp);
  static char caption[260], confirm[260], text[1024];
  WriteString(launcher, IDS_CAPTION, caption);
  WriteString(launcher, IDS_CONFIRM, confirm);
  WriteString(launcher, IDS_DISK_PROMPT, text);
  WriteString(launcher, IDS_EXTRACT_ERROR, text);
  // Cut short where a double-byte character would not fit whole: it is left out whole.
  WriteString(launcher, IDS_CAPTION, text, 12);
  CloseHandle(g_out);

  sys.wsprintfA(text, confirm, "1.13a");
  sys.MessageBoxA(nullptr, text, caption, MB_YESNO);
  sys.InitCommonControls();
  sys.DialogBoxParamA(launcher, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, DialogProc, 0);
  return 0;
}
