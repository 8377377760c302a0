// Windows paths on POSIX, mapped as Wine maps them: drive Z: is the POSIX root and a backslash
// is a slash. A name is one name whatever its ASCII letter case.
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

// Maps a path as MapPath does, then names the file that its last component names by the rule
// written beside CreateFileA in platform/system.h: every operation that names a file comes
// here.
DWORD ResolvePath(const char* windows_path, char* out, std::size_t size);

// Turns a POSIX path into the Windows form the core sees: "/a/b" becomes "Z:\a\b".
// Returns false when it does not fit, or when MapPath would not map it back to `posix_path`
// (a backslash in a name, a last name ending in a dot or a space).
bool ToWindowsPath(const char* posix_path, char* out, std::size_t size);

// The Windows error code for an errno value.
DWORD ErrorFromErrno(int error);

}  // namespace posix
