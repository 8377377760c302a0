// The table of system operations through which the launcher's core reaches Windows (or our
// POSIX layer, or the testing platform that wraps either). Each member is named, typed and
// behaves as the Windows API function of the same name; its contract, as the core relies on
// it, is written beside it once.
#pragma once

#include "platform/winapi.h"

struct SystemOps {
  // ---- Files ----

  // Opens or creates a file. The core passes: GENERIC_READ + FILE_SHARE_READ + OPEN_EXISTING
  // for volumes; GENERIC_WRITE, no sharing, CREATE_ALWAYS for output files; access 0 +
  // FILE_SHARE_READ + OPEN_EXISTING to test that a file exists. Returns a handle, or
  // INVALID_HANDLE_VALUE on failure (GetLastError tells why). A name is one name whatever its
  // ASCII letter case, for every disposition: CREATE_ALWAYS replaces the existing file, which
  // keeps its name (ERROR_ALREADY_EXISTS tells so on success). Where a directory holds several
  // spellings of a name (a case-sensitive file system), the name stands for the one least in
  // byte order, whatever spelling is asked for, the exact one included: creating, opening,
  // testing, deleting, LZOpenFileA and the profile operations all reach that one file, so the
  // file the set is written into is the one expanded and started. Anything that is not a
  // regular file (a FIFO, a socket, a device under a plain name) is refused without waiting
  // (ERROR_ACCESS_DENIED); so is writing or deleting a read-only file, even for a user whom the
  // file system would let. The dots and spaces that end the name are stripped; a device name
  // (CON, NUL, COM1, ...) opens a device or fails, and never makes a file.
  HANDLE(WINAPI* CreateFileA)(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE template_file);
  // Reads up to `count` bytes. Success with *read == 0 is the end of the file; a short count
  // is not an error. Returns FALSE on failure, with *read set to 0.
  BOOL(WINAPI* ReadFile)(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
  // Writes `count` bytes. Success reports the count actually written in *written, which may
  // be short; FALSE on failure (ERROR_DISK_FULL when the disk is full).
  BOOL(WINAPI* WriteFile)(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
  // Moves the file position. The core passes no high part and FILE_BEGIN; a negative offset
  // fails. Returns the new position, or INVALID_SET_FILE_POINTER on failure. A position past
  // the end of the file is allowed; reads there return 0 bytes.
  DWORD(WINAPI* SetFilePointer)(HANDLE file, LONG offset, PLONG offset_high, DWORD method);
  // Returns the low 32 bits of the file size (the high part through `size_high` when given),
  // or INVALID_FILE_SIZE on failure.
  DWORD(WINAPI* GetFileSize)(HANDLE file, LPDWORD size_high);
  // Sets the times that are not null; the core sets the last-write time only (kept to 100 ns).
  // A time of 0 or -1 leaves that time as it is; any other with its top bit set fails with
  // ERROR_INVALID_PARAMETER.
  BOOL(WINAPI* SetFileTime)(HANDLE file, const FILETIME* creation, const FILETIME* access,
                            const FILETIME* last_write);
  // Closes a file handle. FALSE for a handle that is not open.
  BOOL(WINAPI* CloseHandle)(HANDLE handle);
  // Deletes a file. FALSE when it is missing or cannot be deleted.
  BOOL(WINAPI* DeleteFileA)(LPCSTR path);

  // ---- Profile (INI) files ----

  // Copies the value of `key` in `section` of the INI file into `buffer` (at most size - 1
  // bytes and a NUL, cut before a character that does not fit whole), or `default_value` when
  // the file, section or key is missing. Section and key names match regardless of case.
  // Returns the number of bytes copied, without the NUL.
  DWORD(WINAPI* GetPrivateProfileStringA)(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer,
                                          DWORD size, LPCSTR path);
  // Creates or replaces `key` in `section` of the INI file, creating the file and the section
  // when absent; every other line stays as it was. FALSE on failure: a read-only file is not
  // written (ERROR_ACCESS_DENIED).
  BOOL(WINAPI* WritePrivateProfileStringA)(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR path);

  // ---- Resources of the running module ----

  // Finds a resource by integer id (MAKEINTRESOURCEA) and type name. Null when missing.
  HRSRC(WINAPI* FindResourceA)(HMODULE module, LPCSTR name, LPCSTR type);
  // Null when the resource cannot be loaded.
  HGLOBAL(WINAPI* LoadResource)(HMODULE module, HRSRC resource);
  // A pointer to the resource's bytes, or null.
  LPVOID(WINAPI* LockResource)(HGLOBAL loaded);
  // The size of the resource in bytes, 0 on failure.
  DWORD(WINAPI* SizeofResource)(HMODULE module, HRSRC resource);
  // Copies string `id` of the string table into `buffer` (at most size - 1 bytes and a NUL,
  // in the launcher's code page: 932 on Windows, whatever the system's, UTF-8 on Linux).
  // Returns the bytes copied, 0 when the string is missing.
  int(WINAPI* LoadStringA)(HINSTANCE instance, UINT id, LPSTR buffer, int size);

  // ---- Process, paths and threads ----

  // The full path of the running executable (null module). Returns its length; a result equal
  // to `size` means it was cut short; 0 when it fails, as when the path has no Windows form
  // that names it exactly.
  DWORD(WINAPI* GetModuleFileNameA)(HMODULE module, LPSTR buffer, DWORD size);
  // The user's temporary directory, with its trailing backslash. Returns the length; a result
  // greater than `size` is the size needed, and nothing was written; 0 when it fails, as when
  // the directory has no Windows form that names it exactly.
  DWORD(WINAPI* GetTempPathA)(DWORD size, LPSTR buffer);
  // Fills the start-up information the process was started with.
  void(WINAPI* GetStartupInfoA)(LPSTARTUPINFOA info);
  // Starts a program. The command line is split by the Windows rules: a quoted first token is
  // the program; an unquoted one with spaces is tried at each space, shortest first. Returns
  // FALSE when no program could be started.
  BOOL(WINAPI* CreateProcessA)(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES process_security,
                               LPSECURITY_ATTRIBUTES thread_security, BOOL inherit_handles, DWORD flags,
                               LPVOID environment, LPCSTR current_directory, LPSTARTUPINFOA startup,
                               LPPROCESS_INFORMATION info);
  // Starts a program through the shell (the core uses the verb "runas" to ask for elevation).
  // FALSE on failure or when the user declines (ERROR_CANCELLED).
  BOOL(WINAPI* ShellExecuteExA)(SHELLEXECUTEINFOA* info);
  // Initialises COM on the calling thread, as the shell's execution needs.
  HRESULT(WINAPI* CoInitializeEx)(LPVOID reserved, DWORD flags);
  // Starts a thread running `start(parameter)`. A non-null handle on success.
  HANDLE(WINAPI* CreateThread)(LPSECURITY_ATTRIBUTES security, std::size_t stack_size,
                               LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags, LPDWORD thread_id);
  DWORD(WINAPI* GetLastError)();
  void(WINAPI* SetLastError)(DWORD error);

  // ---- Texts ----

  LPSTR(WINAPI* lstrcpyA)(LPSTR destination, LPCSTR source);
  int(WINAPI* lstrlenA)(LPCSTR text);
  // Formats %s, %c, %d (and %u, %x, %%) into `buffer`, at most 1024 bytes with the NUL.
  // Returns the length written.
  int(WINAPIV* wsprintfA)(LPSTR buffer, LPCSTR format, ...);
  // TRUE when `byte` opens a double-byte character of the ANSI code page. Always FALSE where
  // the code page is UTF-8, in which 0x5C is always a backslash.
  BOOL(WINAPI* IsDBCSLeadByte)(BYTE byte);

  // ---- User interface ----

  // Shows a modal message box and returns the button chosen (IDOK, IDCANCEL, IDYES, IDNO).
  int(WINAPI* MessageBoxA)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
  // Runs the modal dialog `template_name`: sends WM_INITDIALOG, then handles messages until
  // EndDialog. Returns the result given to EndDialog, or -1/0 when it cannot be created.
  INT_PTR(WINAPI* DialogBoxParamA)(HINSTANCE instance, LPCSTR template_name, HWND owner, DLGPROC procedure,
                                   LPARAM parameter);
  BOOL(WINAPI* EndDialog)(HWND dialog, INT_PTR result);
  BOOL(WINAPI* GetWindowRect)(HWND window, LPRECT rect);
  int(WINAPI* GetSystemMetrics)(int index);
  BOOL(WINAPI* MoveWindow)(HWND window, int x, int y, int width, int height, BOOL repaint);
  // Queues a message for the window's thread; may be called from any thread.
  BOOL(WINAPI* PostMessageA)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  // Sends a message to a dialog control and returns once the dialog's thread has handled it;
  // may be called from any thread.
  LRESULT(WINAPI* SendDlgItemMessageA)(HWND dialog, int control, UINT message, WPARAM wparam, LPARAM lparam);
  void(WINAPI* InitCommonControls)();

  // ---- LZ32: files of the classic compress format ----

  // Opens `path` (style OF_READ, recognising a compressed file) or creates it (OF_CREATE).
  // Returns a non-negative handle, or a negative LZERROR_ / -1 on failure; a path that does
  // not fit the 128-byte path field of the OFSTRUCT fails.
  INT(WINAPI* LZOpenFileA)(LPSTR path, LPOFSTRUCT record, WORD style);
  // Writes the expanded content of `source` to `destination` (a source that is not compressed
  // is copied unchanged). Returns the bytes written, or a negative LZERROR_ code. On a
  // truncated compressed source it returns what it managed to write.
  LONG(WINAPI* LZCopy)(INT source, INT destination);
  void(WINAPI* LZClose)(INT handle);
};

// The operations whose failure a test can inject, listed once with the value each returns when
// it fails and the last error that failure sets. The testing platform derives its operation
// ids, their names and a fault-injecting wrapper for each from this list; an operation not
// listed here passes through it unchanged.
#define QMR_SYSTEM_OPERATIONS(X)                                   \
  X(CreateFileA, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED)        \
  X(ReadFile, FALSE, ERROR_READ_FAULT)                             \
  X(WriteFile, FALSE, ERROR_WRITE_FAULT)                           \
  X(SetFilePointer, INVALID_SET_FILE_POINTER, ERROR_NEGATIVE_SEEK) \
  X(GetFileSize, INVALID_FILE_SIZE, ERROR_INVALID_HANDLE)          \
  X(SetFileTime, FALSE, ERROR_INVALID_PARAMETER)                   \
  X(CloseHandle, FALSE, ERROR_INVALID_HANDLE)                      \
  X(DeleteFileA, FALSE, ERROR_ACCESS_DENIED)                       \
  X(GetPrivateProfileStringA, 0, ERROR_FILE_NOT_FOUND)             \
  X(WritePrivateProfileStringA, FALSE, ERROR_ACCESS_DENIED)        \
  X(FindResourceA, nullptr, ERROR_RESOURCE_NAME_NOT_FOUND)         \
  X(LoadResource, nullptr, ERROR_RESOURCE_DATA_NOT_FOUND)          \
  X(LockResource, nullptr, ERROR_RESOURCE_DATA_NOT_FOUND)          \
  X(LoadStringA, 0, ERROR_RESOURCE_NAME_NOT_FOUND)                 \
  X(GetModuleFileNameA, 0, ERROR_INSUFFICIENT_BUFFER)              \
  X(GetTempPathA, 0, ERROR_PATH_NOT_FOUND)                         \
  X(CreateProcessA, FALSE, ERROR_FILE_NOT_FOUND)                   \
  X(ShellExecuteExA, FALSE, ERROR_CANCELLED)                       \
  X(CreateThread, nullptr, ERROR_NOT_ENOUGH_MEMORY)                \
  X(MessageBoxA, 0, ERROR_NOT_ENOUGH_MEMORY)                       \
  X(DialogBoxParamA, -1, ERROR_RESOURCE_NAME_NOT_FOUND)            \
  X(LZOpenFileA, LZERROR_BADINHANDLE, ERROR_FILE_NOT_FOUND)        \
  X(LZCopy, LZERROR_READ, ERROR_READ_FAULT)

// The index of the first member of `ops` (in the order of SystemOps) that is null, or -1 when a
// layer filled them all. Every member counts, listed above or not.
int FirstUnfilledOperation(const SystemOps& ops);

// The table in use: the platform's own, or the one a test installed.
const SystemOps& Sys();

// The platform's own table: the Windows API, or our POSIX layer.
const SystemOps& NativeSystem();

// Installs `ops` as the table in use (null restores the native one). Not thread-safe: call it
// only while no other thread uses the table.
void InstallSystem(const SystemOps* ops);
