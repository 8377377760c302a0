// Windows paths on POSIX: the drive mapping, the case-insensitive lookup, errno translation.
#include "platform/posix/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace posix {

namespace {

bool EqualIgnoringAsciiCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return *a == *b;
}

}  // namespace

DWORD MapPath(const char* windows_path, char* out, std::size_t size) {
  const char* p = windows_path;
  if (p[0] != '\0' && p[1] == ':') {
    if (p[0] != 'Z' && p[0] != 'z') return ERROR_PATH_NOT_FOUND;
    p += 2;  // "Z:rest" is relative to the current directory, "Z:\rest" to the root
  } else if ((p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/')) {
    return ERROR_PATH_NOT_FOUND;  // network and device paths are not mapped
  }
  std::size_t n = 0;
  for (; *p != '\0'; ++p) {
    if (n + 1 >= size) return ERROR_FILENAME_EXCED_RANGE;
    out[n++] = (*p == '\\') ? '/' : *p;
  }
  if (n == 0) return ERROR_PATH_NOT_FOUND;
  out[n] = '\0';
  return ERROR_SUCCESS;
}

DWORD ResolvePath(const char* windows_path, char* out, std::size_t size) {
  const DWORD error = MapPath(windows_path, out, size);
  if (error != ERROR_SUCCESS) return error;
  struct stat st;
  if (lstat(out, &st) == 0 || errno != ENOENT) return ERROR_SUCCESS;

  char* slash = std::strrchr(out, '/');
  const char* name = slash != nullptr ? slash + 1 : out;
  if (*name == '\0') return ERROR_SUCCESS;
  char directory[kPathMax];
  if (slash == nullptr) {
    std::strcpy(directory, ".");
  } else if (slash == out) {
    std::strcpy(directory, "/");
  } else {
    std::memcpy(directory, out, static_cast<std::size_t>(slash - out));
    directory[slash - out] = '\0';
  }
  DIR* dir = opendir(directory);
  if (dir == nullptr) return ERROR_SUCCESS;
  // readdir is safe here: the stream is this call's own.
  while (const dirent* entry = readdir(dir)) {  // NOLINT(concurrency-mt-unsafe)
    if (EqualIgnoringAsciiCase(entry->d_name, name)) {
      // Same length by construction, so the name fits where the old one was.
      std::memcpy(const_cast<char*>(name), entry->d_name, std::strlen(entry->d_name));
      break;
    }
  }
  closedir(dir);
  return ERROR_SUCCESS;
}

bool ToWindowsPath(const char* posix_path, char* out, std::size_t size) {
  std::size_t n = 0;
  if (posix_path[0] == '/') {
    if (size < 3) return false;
    out[n++] = 'Z';
    out[n++] = ':';
  }
  for (const char* p = posix_path; *p != '\0'; ++p) {
    if (n + 1 >= size) return false;
    out[n++] = (*p == '/') ? '\\' : *p;
  }
  out[n] = '\0';
  return true;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES: case EPERM: case EISDIR: case EROFS: case ELOOP: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC: case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE: case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EBADF: return ERROR_INVALID_HANDLE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENOEXEC: return ERROR_BAD_FORMAT;
    case EIO: return ERROR_READ_FAULT;
    default: return ERROR_ACCESS_DENIED;
  }
}

}  // namespace posix
