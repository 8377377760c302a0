// Windows layer, files: the Windows API itself.
#include "platform/win32/layer.h"

namespace win32 {

void FillFileOps(SystemOps& ops) {
  ops.CreateFileA = ::CreateFileA;
  ops.ReadFile = ::ReadFile;
  ops.WriteFile = ::WriteFile;
  ops.SetFilePointer = ::SetFilePointer;
  ops.GetFileSize = ::GetFileSize;
  ops.SetFileTime = ::SetFileTime;
  ops.CloseHandle = ::CloseHandle;
  ops.DeleteFileA = ::DeleteFileA;
}

}  // namespace win32
