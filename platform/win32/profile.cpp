// Windows layer, profile files: the Windows API itself.
#include "platform/win32/layer.h"

namespace win32 {

void FillProfileOps(SystemOps& ops) {
  ops.GetPrivateProfileStringA = ::GetPrivateProfileStringA;
  ops.WritePrivateProfileStringA = ::WritePrivateProfileStringA;
}

}  // namespace win32
