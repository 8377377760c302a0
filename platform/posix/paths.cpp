// Windows paths on POSIX: the drive mapping, the case-insensitive lookup, errno translation.
#include "platform/posix/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "format/names.h"

namespace posix {

namespace {

// A directory entry as the getdents64 system call returns it.
struct LinuxDirent64 {
  std::uint64_t d_ino;
  std::int64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[1];  // NUL-terminated, as long as d_reclen allows
};

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
    // As on Windows, no name holds a control character, a wildcard or a character reserved for
    // the shell: a name whose characters were converted to '?' names no file at all.
    if (static_cast<unsigned char>(*p) < 0x20 || std::strchr("*?<>|\"", *p) != nullptr) return ERROR_INVALID_NAME;
    if (n + 1 >= size) return ERROR_FILENAME_EXCED_RANGE;
    out[n++] = (*p == '\\') ? '/' : *p;
  }
  if (n == 0) return ERROR_PATH_NOT_FOUND;
  // Windows strips the dots and spaces that end the last component ("name. ." is "name"),
  // unless nothing else is left of it ("." and ".." are directories).
  std::size_t start = n;
  while (start > 0 && out[start - 1] != '/') --start;
  std::size_t end = n;
  while (end > start && (out[end - 1] == '.' || out[end - 1] == ' ')) --end;
  if (end > start) n = end;
  out[n] = '\0';
  return ERROR_SUCCESS;
}

DWORD ResolvePath(const char* windows_path, char* out, std::size_t size) {
  const DWORD error = MapPath(windows_path, out, size);
  if (error != ERROR_SUCCESS) return error;
  char* slash = std::strrchr(out, '/');
  const char* name = slash != nullptr ? slash + 1 : out;
  if (*name == '\0') return ERROR_SUCCESS;
  // The directory before the last slash: the root keeps its slash; a bare name is in ".".
  char directory[kPathMax] = ".";
  if (slash != nullptr) {
    const auto length = static_cast<std::size_t>(slash == out ? 1 : slash - out);
    std::memcpy(directory, out, length);
    directory[length] = '\0';
  }
  // The directory is read with getdents64 into memory of this call's own: an opendir stream
  // would take heap memory on every file the launcher creates. Every entry is looked at, the
  // exact spelling too, so that the answer does not depend on the spelling asked for.
  const int fd = open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ERROR_SUCCESS;
  alignas(8) char entries[8192];
  char chosen[256] = "";  // a directory entry's name has at most 255 bytes
  for (long n; (n = syscall(SYS_getdents64, fd, entries, sizeof entries)) > 0;) {
    for (long at = 0; at < n;) {
      const auto* entry = reinterpret_cast<const LinuxDirent64*>(entries + at);
      if (payload::SameFileName(entry->d_name, name, payload::IsLeadByteNone) &&
          (chosen[0] == '\0' || std::strcmp(entry->d_name, chosen) < 0))
        std::strcpy(chosen, entry->d_name);
      at += entry->d_reclen;
    }
  }
  close(fd);
  // Same length by construction, so the name fits where the old one was.
  if (chosen[0] != '\0') std::memcpy(const_cast<char*>(name), chosen, std::strlen(chosen));
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
  // A backslash in a POSIX name, or a name that ends in a dot or a space, has no faithful
  // Windows form: mapped back, the path would name another file.
  char back[kPathMax];
  return MapPath(out, back, sizeof back) == ERROR_SUCCESS && std::strcmp(back, posix_path) == 0;
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
