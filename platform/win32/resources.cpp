// Windows layer, resources: the executable's own PE resources.
#include "platform/win32/layer.h"

namespace win32 {

void FillResourceOps(SystemOps& ops) {
  ops.FindResourceA = ::FindResourceA;
  ops.LoadResource = ::LoadResource;
  ops.LockResource = ::LockResource;
  ops.SizeofResource = ::SizeofResource;
  ops.LoadStringA = ::LoadStringA;
}

}  // namespace win32
