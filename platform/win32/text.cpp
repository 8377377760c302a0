// Windows layer, texts: the Windows API itself, in the system's ANSI code page.
#include "platform/win32/layer.h"

namespace win32 {

void FillTextOps(SystemOps& ops) {
  ops.lstrcpyA = ::lstrcpyA;
  ops.lstrcatA = ::lstrcatA;
  ops.lstrlenA = ::lstrlenA;
  ops.wsprintfA = ::wsprintfA;
  ops.IsDBCSLeadByte = ::IsDBCSLeadByte;
}

}  // namespace win32
