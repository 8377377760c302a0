// POSIX layer, the table: the native system operations of Linux builds.
#include "platform/posix/layer.h"

const SystemOps& NativeSystem() {
  static const SystemOps ops = [] {
    SystemOps table = {};
    posix::FillFileOps(table);
    posix::FillProfileOps(table);
    posix::FillResourceOps(table);
    posix::FillProcessOps(table);
    posix::FillTextOps(table);
    posix::FillUiOps(table);
    posix::FillLzOps(table);
    return table;
  }();
  return ops;
}
