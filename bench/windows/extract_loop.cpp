// The launcher's extraction over the Windows layer, without its dialog, timed from inside:
//   qmrbench_extract.exe LAUNCHER PAYLOAD_OFFSET TEMP_DIR
// extracts the set whose volume 1 lies in LAUNCHER at PAYLOAD_OFFSET (Disk2, Disk3 beside it)
// into TEMP_DIR as the launcher's worker does, and prints the seconds it took and the result.
// The progress bar is left out, and starting the setup program stands in as done.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/windows/clock.h"
#include "extract/extract.h"
#include "format/little_endian.h"
#include "platform/system.h"

namespace {

// Resource 104, the payload offset: the one resource the extraction asks for, found at once.
unsigned char g_offset[4];

HRSRC WINAPI BenchFindResourceA(HMODULE, LPCSTR, LPCSTR) { return reinterpret_cast<HRSRC>(g_offset); }
HGLOBAL WINAPI BenchLoadResource(HMODULE, HRSRC resource) { return reinterpret_cast<HGLOBAL>(resource); }
LPVOID WINAPI BenchLockResource(HGLOBAL) { return g_offset; }
DWORD WINAPI BenchSizeofResource(HMODULE, HRSRC) { return sizeof g_offset; }
LRESULT WINAPI BenchSendDlgItemMessageA(HWND, int, UINT, WPARAM, LPARAM) { return 0; }
int WINAPI BenchMessageBoxA(HWND, LPCSTR text, LPCSTR, UINT) {
  std::fprintf(stderr, "qmrbench_extract: unexpected message box: %s\n", text);
  return IDCANCEL;
}
BOOL WINAPI BenchCreateProcessA(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                           LPSTARTUPINFOA, LPPROCESS_INFORMATION) {
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::strlen(argv[1]) >= payload::kTextSize || std::strlen(argv[3]) + 2 >= payload::kTextSize) {
    std::fprintf(stderr, "usage: qmrbench_extract LAUNCHER PAYLOAD_OFFSET TEMP_DIR\n");
    return 2;
  }
  payload::WriteLE32(g_offset, static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)));
  SystemOps ops = NativeSystem();
  ops.FindResourceA = BenchFindResourceA;
  ops.LoadResource = BenchLoadResource;
  ops.LockResource = BenchLockResource;
  ops.SizeofResource = BenchSizeofResource;
  ops.SendDlgItemMessageA = BenchSendDlgItemMessageA;
  ops.MessageBoxA = BenchMessageBoxA;
  ops.CreateProcessA = BenchCreateProcessA;
  InstallSystem(&ops);

  ResetExtractionState();
  std::strcpy(g_run.module_path, argv[1]);
  std::strcpy(g_run.temp_dir, argv[3]);
  if (g_run.temp_dir[std::strlen(g_run.temp_dir) - 1] != '\\') std::strcat(g_run.temp_dir, "\\");

  const LONGLONG start = qmrbench::Now();
  const int result = ExtractAndLaunch();
  std::printf("%.6f %d\n", qmrbench::Seconds(start, qmrbench::Now()), result);
  return result == 1 ? 0 : 1;
}
