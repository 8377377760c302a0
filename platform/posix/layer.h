// What the files of the POSIX layer share: the per-area fill functions of the table, the
// thread's last error, and pseudo handles for threads and processes.
#pragma once

#include <cstddef>

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

// Sets the last error to `error` and returns `result`: how an operation of the layer fails.
template <typename Result>
Result Fail(DWORD error, Result result) {
  SetError(error);
  return result;
}

// Copies a path out as GetModuleFileNameA does: returns its length, or `size` when it was cut
// short (size - 1 bytes and a NUL written, ERROR_INSUFFICIENT_BUFFER); 0 for a `size` of 0.
DWORD CopyModulePath(const char* path, LPSTR buffer, DWORD size);
// Copies a directory out as GetTempPathA does: returns its length, or the size it needs, NUL
// included, when it does not fit (nothing written).
DWORD CopyTempPath(const char* path, LPSTR buffer, DWORD size);

// A handle that stands for a thread or a process: CloseHandle accepts it and does nothing.
HANDLE NewPseudoHandle();
bool IsPseudoHandle(HANDLE handle);

// Copies the `length` bytes of `text` into `buffer` (`size` bytes, at least 1): at most size - 1
// bytes and a NUL, cut before a character of the code page (UTF-8) that does not fit whole: the
// one rule for texts cut to a buffer. Returns the bytes copied, without the NUL.
std::size_t CopyWholeCharacters(const char* text, std::size_t length, char* buffer, std::size_t size);

// Opens the file a Windows path names, as CreateFileA does for this access and disposition:
// the one opening of a named file for CreateFileA, LZOpenFileA and the profile operations.
// Writes the resolved POSIX path into `mapped` (kPathMax bytes) and, when `existed` is given,
// whether a file was there before a creating disposition. Returns the descriptor, or -1 with
// *error set (a read-only file asked to be written, anything not a regular file: ERROR_ACCESS_DENIED).
int OpenNamedFile(const char* path, DWORD access, DWORD disposition, char* mapped, bool* existed, DWORD* error);

// Closes a file handle of the file table. False when `handle` is not an open file.
bool CloseFileHandle(HANDLE handle);

}  // namespace posix
