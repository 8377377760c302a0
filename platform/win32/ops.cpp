// Windows layer, the table: the native system operations of the Windows launcher.
#include "platform/win32/layer.h"

const SystemOps& NativeSystem() {
  static SystemOps ops;
  static bool filled = false;
  if (!filled) {
    // Filled on the first call, made by WinMain before any other thread exists.
    win32::RestrictDllSearch();
    win32::FillFileOps(ops);
    win32::FillProfileOps(ops);
    win32::FillResourceOps(ops);
    win32::FillProcessOps(ops);
    win32::FillTextOps(ops);
    win32::FillUiOps(ops);
    win32::FillLzOps(ops);
    filled = true;
  }
  return ops;
}
