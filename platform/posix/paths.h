// Windows paths on POSIX, mapped as Wine maps them: drive Z: is the POSIX root and a backslash
// is a slash. An existing file is found regardless of ASCII letter case.
#pragma once

#include <cstddef>

#include "platform/winapi.h"

namespace posix {

inline constexpr std::size_t kPathMax = 4096;

// Maps a Windows path to a POSIX path: "Z:\a\b" and "\a\b" (the root of the current drive,
// which is Z:) become "/a/b"; a relative path stays relative. The dots and spaces that end the
// last component go, as on Windows: "Z:\a\b. " is "/a/b". Returns the Windows error for a
// path that cannot be mapped (another drive, a network path, too long), or ERROR_SUCCESS.
DWORD MapPath(const char* windows_path, char* out, std::size_t size);

// Maps a path as MapPath does, then, when no file of that exact name exists, looks for one
// whose last component differs only in ASCII letter case and uses its name.
DWORD ResolvePath(const char* windows_path, char* out, std::size_t size);

// Turns a POSIX path into the Windows form the core sees: "/a/b" becomes "Z:\a\b".
// Returns false when it does not fit.
bool ToWindowsPath(const char* posix_path, char* out, std::size_t size);

// The Windows error code for an errno value.
DWORD ErrorFromErrno(int error);

}  // namespace posix
