// Windows layer, LZ32: the system's LZ32, loaded from the system directory when first needed.
#include "platform/win32/layer.h"

namespace win32 {

namespace {

INT WINAPI LZOpenFileA(LPSTR path, LPOFSTRUCT record, WORD style) {
  using Function = INT(WINAPI*)(LPSTR, LPOFSTRUCT, WORD);
  const Function function = SystemFunction<Function>("lz32.dll", "LZOpenFileA");
  return function != nullptr ? function(path, record, style) : LZERROR_BADINHANDLE;
}

LONG WINAPI LZCopy(INT source, INT destination) {
  using Function = LONG(WINAPI*)(INT, INT);
  const Function function = SystemFunction<Function>("lz32.dll", "LZCopy");
  return function != nullptr ? function(source, destination) : LZERROR_BADINHANDLE;
}

void WINAPI LZClose(INT handle) {
  using Function = void(WINAPI*)(INT);
  if (const Function function = SystemFunction<Function>("lz32.dll", "LZClose")) function(handle);
}

}  // namespace

void FillLzOps(SystemOps& ops) {
  ops.LZOpenFileA = LZOpenFileA;
  ops.LZCopy = LZCopy;
  ops.LZClose = LZClose;
}

}  // namespace win32
