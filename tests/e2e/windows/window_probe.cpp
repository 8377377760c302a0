// The Wine tests' window probe: reads the visible windows of the session as an inspection tool
// reads them on Windows (class, owner, style, geometry, the text of every control and the room
// a static text needs, a progress bar's position), measures a dialog font's base units and
// shortens paths, printing UTF-8 lines. It sees the screen in physical pixels (DPI aware).
//
//   qmrprobe windows            every visible top-level window with a title, topmost first;
//                               each ends in "end", or in "gone" when it closed while read
//   qmrprobe units FACE POINTS  the dialog base units of that font, as a dialog template gets them
//   qmrprobe shortpath PATH     the short form of an existing path
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>

namespace {

HANDLE g_out;

void Write(const char* text) {
  DWORD written = 0;
  WriteFile(g_out, text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
}

void WriteNumber(long long value) {
  char text[32];
  wsprintfA(text, "%I64d", value);
  Write(text);
}

void WriteHex(ULONG_PTR value) {
  char text[32];
  wsprintfA(text, "0x%I64x", static_cast<unsigned long long>(value));
  Write(text);
}

// Writes a text as UTF-8 with backslash, newline, carriage return and tab escaped, so every
// field stays on its line.
void WriteEscaped(const wchar_t* text) {
  static char utf8[16384];
  static wchar_t escaped[8192];
  int n = 0;
  for (const wchar_t* p = text; *p != L'\0' && n < 8000; ++p) {
    switch (*p) {
      case L'\\': escaped[n++] = L'\\'; escaped[n++] = L'\\'; break;
      case L'\n': escaped[n++] = L'\\'; escaped[n++] = L'n'; break;
      case L'\r': escaped[n++] = L'\\'; escaped[n++] = L'r'; break;
      case L'\t': escaped[n++] = L'\\'; escaped[n++] = L't'; break;
      default: escaped[n++] = *p;
    }
  }
  escaped[n] = L'\0';
  if (WideCharToMultiByte(CP_UTF8, 0, escaped, -1, utf8, sizeof utf8, nullptr, nullptr) > 0) Write(utf8);
}

void WriteRect(const char* name, const RECT& rect) {
  Write(" ");
  Write(name);
  Write("=");
  WriteNumber(rect.left);
  Write(",");
  WriteNumber(rect.top);
  Write(",");
  WriteNumber(rect.right);
  Write(",");
  WriteNumber(rect.bottom);
}

void WriteWindowText(HWND window) {
  static wchar_t text[4096];
  text[0] = L'\0';
  GetWindowTextW(window, text, 4096);
  Write(" text=");
  WriteEscaped(text);
}

// The extent of a static text control's text as the control draws it: in its font, wrapped at
// its width. A text that fits shows whole; a larger extent is clipped. Nothing for a control
// that has gone meanwhile (it has no device context to measure in).
void WriteTextExtent(HWND control) {
  static wchar_t text[4096];
  const int length = GetWindowTextW(control, text, 4096);
  HDC dc = GetDC(control);
  if (dc == nullptr) return;
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT client;
  GetClientRect(control, &client);
  RECT needed = {0, 0, client.right, 0};
  DrawTextW(dc, text, length, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
  SelectObject(dc, previous);
  ReleaseDC(control, dc);
  Write(" extent=");
  WriteNumber(needed.right);
  Write(",");
  WriteNumber(needed.bottom);
}

BOOL CALLBACK WriteChild(HWND child, LPARAM parent_param) {
  const HWND parent = reinterpret_cast<HWND>(parent_param);
  if (GetParent(child) != parent) return TRUE;  // grandchildren belong to their own parent
  wchar_t class_name[256];
  GetClassNameW(child, class_name, 256);
  RECT rect;
  GetWindowRect(child, &rect);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
  const LONG style = GetWindowLongW(child, GWL_STYLE);
  Write("child hwnd=");
  WriteHex(reinterpret_cast<ULONG_PTR>(child));
  Write(" id=");
  WriteNumber(GetDlgCtrlID(child));
  Write(" class=");
  WriteEscaped(class_name);
  Write(" style=");
  WriteHex(static_cast<ULONG>(style));
  Write(" visible=");
  WriteNumber(IsWindowVisible(child) ? 1 : 0);
  WriteRect("rect", rect);
  const bool static_text = lstrcmpiW(class_name, L"Static") == 0 &&
                           ((style & SS_TYPEMASK) == SS_LEFT || (style & SS_TYPEMASK) == SS_CENTER ||
                            (style & SS_TYPEMASK) == SS_RIGHT);
  if (static_text) WriteTextExtent(child);
  if (lstrcmpiW(class_name, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
    // The icon a static control shows: the handle is the owner's, only its presence is read.
    Write(" icon=");
    WriteNumber(SendMessageW(child, STM_GETICON, 0, 0) != 0 ? 1 : 0);
  }
  if (lstrcmpiW(class_name, PROGRESS_CLASSW) == 0) {
    PBRANGE range = {};
    const LRESULT position = SendMessageW(child, PBM_GETPOS, 0, 0);
    range.iLow = static_cast<int>(SendMessageW(child, PBM_GETRANGE, TRUE, 0));
    range.iHigh = static_cast<int>(SendMessageW(child, PBM_GETRANGE, FALSE, 0));
    Write(" position=");
    WriteNumber(position);
    Write(" range=");
    WriteNumber(range.iLow);
    Write(",");
    WriteNumber(range.iHigh);
  }
  WriteWindowText(child);
  Write("\n");
  return TRUE;
}

BOOL CALLBACK WriteTopLevel(HWND window, LPARAM) {
  if (!IsWindowVisible(window) || GetWindowTextLengthW(window) == 0) return TRUE;
  wchar_t class_name[256];
  GetClassNameW(window, class_name, 256);
  RECT rect, client;
  GetWindowRect(window, &rect);
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  Write("window hwnd=");
  WriteHex(reinterpret_cast<ULONG_PTR>(window));
  // The X window Wine shows it in, so the tests can match what they see on the X server.
  Write(" x11=");
  WriteHex(reinterpret_cast<ULONG_PTR>(GetPropA(window, "__wine_x11_whole_window")));
  Write(" class=");
  WriteEscaped(class_name);
  Write(" owner=");
  WriteHex(reinterpret_cast<ULONG_PTR>(GetWindow(window, GW_OWNER)));
  Write(" process=");
  WriteNumber(process);
  Write(" style=");
  WriteHex(static_cast<ULONG>(GetWindowLongW(window, GWL_STYLE)));
  Write(" enabled=");
  WriteNumber(IsWindowEnabled(window) ? 1 : 0);
  Write(" foreground=");
  WriteNumber(GetForegroundWindow() == window ? 1 : 0);
  WriteRect("rect", rect);
  Write(" client=");
  WriteNumber(origin.x);
  Write(",");
  WriteNumber(origin.y);
  Write(",");
  WriteNumber(client.right);
  Write(",");
  WriteNumber(client.bottom);
  WriteWindowText(window);
  Write("\n");
  EnumChildWindows(window, WriteChild, reinterpret_cast<LPARAM>(window));
  // A window closed while it was read (a box just answered) is told as gone, not read.
  Write(IsWindow(window) ? "end\n" : "gone\n");
  return TRUE;
}

// A crash says what happened on the error output, and ends the probe at once: no debugger
// starts and no crash dialog waits for a person.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
  char text[128];
  wsprintfA(text, "qmrprobe: exception 0x%08lx at 0x%I64x\n", exception->ExceptionRecord->ExceptionCode,
            reinterpret_cast<unsigned long long>(exception->ExceptionRecord->ExceptionAddress));
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
  ExitProcess(3);
}

// The dialog base units of a template font: the font is made from the point size at the
// screen's resolution; the horizontal unit is the average width of the 52 Latin letters,
// rounded, and the vertical unit the font's height.
int WriteUnits(const wchar_t* face, int points) {
  HDC screen = GetDC(nullptr);
  const int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
  HFONT font = CreateFontW(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                           PROOF_QUALITY, FF_DONTCARE, face);
  if (font == nullptr) return 1;
  HGDIOBJ previous = SelectObject(screen, font);
  static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE extent = {};
  GetTextExtentPoint32W(screen, kLetters, 52, &extent);
  TEXTMETRICW metrics = {};
  GetTextMetricsW(screen, &metrics);
  const LONG unit_width = (extent.cx / 26 + 1) / 2;
  const LONG unit_height = metrics.tmHeight;
  wchar_t chosen[LF_FACESIZE] = L"";
  GetTextFaceW(screen, LF_FACESIZE, chosen);
  SelectObject(screen, previous);
  DeleteObject(font);
  ReleaseDC(nullptr, screen);
  Write("units ");
  WriteNumber(unit_width);
  Write(" ");
  WriteNumber(unit_height);
  Write(" face=");
  WriteEscaped(chosen);
  Write("\n");
  return unit_width > 0 ? 0 : 1;
}

int WriteShortPath(const wchar_t* path) {
  static wchar_t short_form[4096];
  const DWORD length = GetShortPathNameW(path, short_form, 4096);
  if (length == 0 || length >= 4096) return 1;
  Write("short ");
  WriteEscaped(short_form);
  Write("\n");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  g_out = GetStdHandle(STD_OUTPUT_HANDLE);
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  SetUnhandledExceptionFilter(ReportCrash);
  // Window rectangles and font sizes in the screen's own pixels, whatever its resolution.
  SetProcessDPIAware();
  if (argc == 2 && lstrcmpW(argv[1], L"windows") == 0) {
    EnumWindows(WriteTopLevel, 0);
    return 0;
  }
  if (argc == 4 && lstrcmpW(argv[1], L"units") == 0) return WriteUnits(argv[2], _wtoi(argv[3]));
  if (argc == 3 && lstrcmpW(argv[1], L"shortpath") == 0) return WriteShortPath(argv[2]);
  Write("usage: qmrprobe windows | qmrprobe units FACE POINTS | qmrprobe shortpath PATH\n");
  return 2;
}
