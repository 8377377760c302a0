// The control of the DLL-planting test: a program that imports LZ32 and COMCTL32 statically,
// as many older programs do, so the loader resolves both when it starts, searching the
// program's own directory first. It opens its own file through LZ32 and prints "lz32 ok".
#include <windows.h>

#include <commctrl.h>
#include <lzexpand.h>

#include <cstdio>

int main() {
  InitCommonControls();
  char self[MAX_PATH];
  if (GetModuleFileNameA(nullptr, self, MAX_PATH) == 0) return 1;
  OFSTRUCT record = {};
  const INT handle = LZOpenFileA(self, &record, OF_READ);
  if (handle < 0) {
    std::printf("LZOpenFileA failed: %d\n", handle);
    return 2;
  }
  LZClose(handle);
  std::printf("lz32 ok\n");
  return 0;
}
