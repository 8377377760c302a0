// What the files of the POSIX layer share: the per-area fill functions of the table, the
// thread's last error, and pseudo handles for threads and processes.
#pragma once

#include "platform/system.h"

namespace posix {

void FillFileOps(SystemOps& ops);
void FillProfileOps(SystemOps& ops);
void FillResourceOps(SystemOps& ops);
void FillProcessOps(SystemOps& ops);
void FillTextOps(SystemOps& ops);
void FillUiOps(SystemOps& ops);
void FillLzOps(SystemOps& ops);

// The calling thread's last error, as GetLastError reports it.
void SetError(DWORD error);
DWORD Error();

// A handle that stands for a thread or a process: CloseHandle accepts it and does nothing.
HANDLE NewPseudoHandle();
bool IsPseudoHandle(HANDLE handle);

// Closes a file handle of the file table. False when `handle` is not an open file.
bool CloseFileHandle(HANDLE handle);

}  // namespace posix
