// POSIX layer, files: Windows file handles over POSIX descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/posix/layer.h"
#include "platform/posix/paths.h"

namespace posix {

namespace {

// Handles are slot numbers offset into a range no pointer or pseudo handle uses.
constexpr std::uintptr_t kFileHandleBase = 0x10000;
constexpr int kMaxFiles = 256;
constexpr std::uintptr_t kPseudoHandleBase = 0x40000;

struct FileSlot {
  bool used;
  int fd;
};

std::mutex g_slots_mutex;
FileSlot g_slots[kMaxFiles];
std::atomic<std::uintptr_t> g_next_pseudo{0};

HANDLE HandleOf(int slot) { return reinterpret_cast<HANDLE>(kFileHandleBase + static_cast<std::uintptr_t>(slot)); }

// The descriptor of an open file handle, or -1.
int FdOf(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value < kFileHandleBase || value >= kFileHandleBase + kMaxFiles) return -1;
  std::lock_guard<std::mutex> lock(g_slots_mutex);
  const FileSlot& slot = g_slots[value - kFileHandleBase];
  return slot.used ? slot.fd : -1;
}

HANDLE AddFile(int fd) {
  std::lock_guard<std::mutex> lock(g_slots_mutex);
  for (int i = 0; i < kMaxFiles; ++i) {
    if (!g_slots[i].used) {
      g_slots[i] = {true, fd};
      return HandleOf(i);
    }
  }
  return INVALID_HANDLE_VALUE;
}

constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601

timespec TimespecFromFileTime(const FILETIME& time) {
  const std::int64_t ticks =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime) -
      kUnixEpochAsFileTime;
  std::int64_t seconds = ticks / 10000000;
  std::int64_t rest = ticks % 10000000;
  if (rest < 0) {
    rest += 10000000;
    --seconds;
  }
  timespec ts;
  ts.tv_sec = static_cast<time_t>(seconds);
  ts.tv_nsec = static_cast<long>(rest * 100);
  return ts;
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
  char mapped[kPathMax];
  DWORD error = ResolvePath(path, mapped, sizeof mapped);
  if (error != ERROR_SUCCESS) {
    SetError(error);
    return INVALID_HANDLE_VALUE;
  }
  int flags = O_CLOEXEC;
  const bool read = (access & GENERIC_READ) != 0, write = (access & GENERIC_WRITE) != 0;
  if (read && write) {
    flags |= O_RDWR;
  } else if (write) {
    flags |= O_WRONLY;
  } else if (read) {
    flags |= O_RDONLY;
  } else {
    flags |= O_PATH;  // no access rights: the file is only opened, as an existence test does
  }
  switch (disposition) {
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    case OPEN_EXISTING: break;
    default: SetError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  // A file the launcher creates is never written through a symbolic link that someone else
  // planted in the directory: the link's target could lie anywhere.
  if (flags & O_CREAT) flags |= O_NOFOLLOW;
  int fd;
  do {
    fd = open(mapped, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    SetError(ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {  // a directory is not a file
    close(fd);
    SetError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = AddFile(fd);
  if (handle == INVALID_HANDLE_VALUE) {
    close(fd);
    SetError(ERROR_TOO_MANY_OPEN_FILES);
    return INVALID_HANDLE_VALUE;
  }
  SetError(ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read_count, LPOVERLAPPED) {
  *read_count = 0;
  const int fd = FdOf(file);
  if (fd < 0) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  auto* out = static_cast<unsigned char*>(buffer);
  DWORD done = 0;
  while (done < count) {
    const ssize_t n = read(fd, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetError(ErrorFromErrno(errno) == ERROR_ACCESS_DENIED ? ERROR_READ_FAULT : ErrorFromErrno(errno));
      return FALSE;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
  }
  *read_count = done;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED) {
  *written = 0;
  const int fd = FdOf(file);
  if (fd < 0) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const auto* in = static_cast<const unsigned char*>(buffer);
  DWORD done = 0;
  while (done < count) {
    const ssize_t n = write(fd, in + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *written = done;
      SetError(errno == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
      return FALSE;
    }
    done += static_cast<DWORD>(n);
  }
  *written = done;
  return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG offset, PLONG offset_high, DWORD method) {
  const int fd = FdOf(file);
  if (fd < 0) {
    SetError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  std::int64_t distance = offset;
  if (offset_high != nullptr)
    distance = static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::uint32_t>(*offset_high)) << 32 |
                                         static_cast<std::uint32_t>(offset));
  const int whence = method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : SEEK_SET;
  const off_t base = whence == SEEK_SET ? 0 : lseek(fd, 0, whence);
  if (base < 0 || base + distance < 0) {
    SetError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  const off_t position = lseek(fd, static_cast<off_t>(base + distance), SEEK_SET);
  if (position < 0) {
    SetError(ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  if (offset_high != nullptr) *offset_high = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(position);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD size_high) {
  const int fd = FdOf(file);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    SetError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size_high != nullptr) *size_high = static_cast<DWORD>(size >> 32);
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME*, const FILETIME* access, const FILETIME* last_write) {
  const int fd = FdOf(file);
  if (fd < 0) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // POSIX keeps no settable creation time; the access and last-write times map directly.
  timespec times[2];
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_nsec = UTIME_OMIT;
  if (access != nullptr) times[0] = TimespecFromFileTime(*access);
  if (last_write != nullptr) times[1] = TimespecFromFileTime(*last_write);
  if (futimens(fd, times) != 0) {
    SetError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  if (IsPseudoHandle(handle)) return TRUE;
  if (!CloseFileHandle(handle)) {
    SetError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  char mapped[kPathMax];
  DWORD error = ResolvePath(path, mapped, sizeof mapped);
  if (error == ERROR_SUCCESS && unlink(mapped) != 0) error = ErrorFromErrno(errno == EISDIR ? EACCES : errno);
  SetError(error);
  return error == ERROR_SUCCESS;
}

}  // namespace

bool CloseFileHandle(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value < kFileHandleBase || value >= kFileHandleBase + kMaxFiles) return false;
  int fd;
  {
    std::lock_guard<std::mutex> lock(g_slots_mutex);
    FileSlot& slot = g_slots[value - kFileHandleBase];
    if (!slot.used) return false;
    fd = slot.fd;
    slot.used = false;
  }
  close(fd);
  return true;
}

HANDLE NewPseudoHandle() {
  return reinterpret_cast<HANDLE>(kPseudoHandleBase + (g_next_pseudo.fetch_add(1) % 0x10000));
}

bool IsPseudoHandle(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  return value >= kPseudoHandleBase && value < kPseudoHandleBase + 0x10000;
}

void FillFileOps(SystemOps& ops) {
  ops.CreateFileA = CreateFileA;
  ops.ReadFile = ReadFile;
  ops.WriteFile = WriteFile;
  ops.SetFilePointer = SetFilePointer;
  ops.GetFileSize = GetFileSize;
  ops.SetFileTime = SetFileTime;
  ops.CloseHandle = CloseHandle;
  ops.DeleteFileA = DeleteFileA;
}

}  // namespace posix
