// Windows layer, LZ32: the system's LZ32, loaded from the system directory when first needed.
#include "platform/win32/layer.h"

namespace win32 {

namespace {

INT WINAPI LZOpenFileA(LPSTR path, LPOFSTRUCT record, WORD style) {
  const auto function = SystemFunction<decltype(&::LZOpenFileA)>("lz32.dll", "LZOpenFileA");
  return function != nullptr ? function(path, record, style) : LZERROR_BADINHANDLE;
}

LONG WINAPI LZCopy(INT source, INT destination) {
  const auto function = SystemFunction<decltype(&::LZCopy)>("lz32.dll", "LZCopy");
  return function != nullptr ? function(source, destination) : LZERROR_BADINHANDLE;
}

void WINAPI LZClose(INT handle) {
  if (const auto function = SystemFunction<decltype(&::LZClose)>("lz32.dll", "LZClose")) function(handle);
}

}  // namespace

void FillLzOps(SystemOps& ops) {
  ops.LZOpenFileA = LZOpenFileA;
  ops.LZCopy = LZCopy;
  ops.LZClose = LZClose;
}

}  // namespace win32
