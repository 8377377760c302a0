// POSIX layer, files: Windows file handles over POSIX descriptors.
//
// Each ReadFile and WriteFile is one read(2) or write(2) loop straight between the caller's
// memory and the descriptor: nothing is held back, and a failure is known before the call
// returns. (A pool of read-ahead buffers, which served an entry's header in one read(2) instead
// of four, measured no faster, on the set of 42 entries nor on the set of as many small files as
// the clean-up list holds: see docs/benchmarks.md.)
//
// Each handle's slot is guarded by its own lock, so that a handle may be used from any thread;
// the table's lock guards only which slots are in use.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "format/filetime.h"
#include "format/names.h"
#include "platform/posix/layer.h"
#include "platform/posix/paths.h"
#include "platform/posix/retry.h"

namespace posix {

namespace {

// Handles are slot numbers offset into a range no pointer or pseudo handle uses.
constexpr std::uintptr_t kFileHandleBase = 0x10000;
constexpr int kMaxFiles = 256;
constexpr std::uintptr_t kPseudoHandleBase = 0x40000;

struct FileSlot {
  std::mutex lock;   // held for each operation on the handle
  bool used;         // changed only with both the table's lock and `lock` held
  int fd;
};

std::mutex g_table_mutex;
FileSlot g_slots[kMaxFiles];
std::atomic<std::uintptr_t> g_next_pseudo{0};

HANDLE HandleOf(int slot) { return reinterpret_cast<HANDLE>(kFileHandleBase + static_cast<std::uintptr_t>(slot)); }

FileSlot* SlotOf(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value < kFileHandleBase || value >= kFileHandleBase + kMaxFiles) return nullptr;
  return &g_slots[value - kFileHandleBase];
}

// An open handle's slot, locked for one operation: null (and unlocked) for a handle that is
// not open.
class OpenSlot {
 public:
  // A handle that names no open file sets ERROR_INVALID_HANDLE, as Windows does; the caller
  // returns its failure value.
  explicit OpenSlot(HANDLE handle) : slot_(SlotOf(handle)) {
    if (slot_ != nullptr) {
      slot_->lock.lock();
      if (!slot_->used) {
        slot_->lock.unlock();
        slot_ = nullptr;
      }
    }
    if (slot_ == nullptr) SetError(ERROR_INVALID_HANDLE);
  }
  ~OpenSlot() {
    if (slot_ != nullptr) slot_->lock.unlock();
  }
  OpenSlot(const OpenSlot&) = delete;
  OpenSlot& operator=(const OpenSlot&) = delete;

  FileSlot* operator->() const { return slot_; }
  explicit operator bool() const { return slot_ != nullptr; }

 private:
  FileSlot* slot_;
};

// Enters an open descriptor into the table. INVALID_HANDLE_VALUE when the table is full.
HANDLE AddFile(int fd) {
  std::lock_guard<std::mutex> table(g_table_mutex);
  for (int i = 0; i < kMaxFiles; ++i) {
    FileSlot& slot = g_slots[i];
    if (slot.used) continue;
    std::lock_guard<std::mutex> lock(slot.lock);
    slot.used = true;
    slot.fd = fd;
    return HandleOf(i);
  }
  return INVALID_HANDLE_VALUE;
}

DWORD ReadErrorFromErrno(int error) {
  return ErrorFromErrno(error) == ERROR_ACCESS_DENIED ? ERROR_READ_FAULT : ErrorFromErrno(error);
}

// The time a FILETIME names, for futimens. A FILETIME is a signed 64-bit count as the file
// system takes it: 0 and -1 (every bit set) leave the time as it is (UTIME_OMIT), as Windows
// does; any other with its top bit set is before 1601 and no time a file can have: false.
bool TimespecFromFileTime(const FILETIME& time, timespec* out) {
  const std::uint64_t bits = static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  if (bits == 0 || bits == ~std::uint64_t{0}) {
    *out = {0, UTIME_OMIT};
    return true;
  }
  if (bits > static_cast<std::uint64_t>(INT64_MAX)) return false;
  const payload::UnixTime unix = payload::UnixFromFileTime(bits);
  *out = {static_cast<time_t>(unix.seconds), static_cast<long>(unix.nanoseconds)};
  return true;
}

// The last component of a POSIX path.
const char* LastComponent(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// The error for a file that open(2) did not find: a missing directory on the way is a path
// not found, as Windows tells them apart.
DWORD NotFoundError(const char* mapped) {
  char directory[kPathMax];
  const char* name = LastComponent(mapped);
  if (name == mapped) return ERROR_FILE_NOT_FOUND;
  const auto length = static_cast<std::size_t>(name - mapped);
  std::memcpy(directory, mapped, length);
  directory[length] = '\0';
  struct stat st;
  return stat(directory, &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// A file whose write permission bits are all clear is read-only, as Windows keeps it: it is
// neither written nor deleted, even by a user whom the file system would let.
bool IsReadOnlyFile(const char* mapped) {
  struct stat st;
  return lstat(mapped, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

// A device name opens a device in any directory on Windows. Here NUL is the null device; the
// console names fail as they do for a GUI program, which has no console; the ports are absent.
int OpenDevice(const char* name, int flags, DWORD* error) {
  const char* device = payload::DeviceOf(name);
  const auto is = [&](const char* known) { return device != nullptr && std::strcmp(device, known) == 0; };
  if (is("NUL")) {
    const int access = (flags & O_PATH) != 0 ? O_RDONLY : flags & O_ACCMODE;
    const int fd = open("/dev/null", access | O_CLOEXEC);
    *error = fd < 0 ? ErrorFromErrno(errno) : ERROR_SUCCESS;
    return fd;
  }
  *error = is("CON") || is("CONIN$") || is("CONOUT$") ? ERROR_INVALID_HANDLE : ERROR_FILE_NOT_FOUND;
  return -1;
}

// The open(2) flags for an access and a disposition; -1 for a disposition Windows has not.
int OpenFlags(DWORD access, DWORD disposition) {
  int flags = O_CLOEXEC;
  const bool read = (access & GENERIC_READ) != 0, write = (access & GENERIC_WRITE) != 0;
  // No access rights: the file is only opened (O_PATH), as an existence test does.
  flags |= read && write ? O_RDWR : write ? O_WRONLY : read ? O_RDONLY : O_PATH;
  switch (disposition) {
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    case OPEN_EXISTING: break;
    default: return -1;
  }
  // A file the launcher creates is never written through a symbolic link that someone else
  // planted in the directory: the link's target could lie anywhere.
  if (flags & O_CREAT) flags |= O_NOFOLLOW;
  return flags;
}

// Opens the mapped path as CreateFileA asks. The descriptor, or -1 with *error set. Opened
// without waiting, so that a FIFO (whose open waits for the other end) is seen and refused.
int OpenMapped(const char* mapped, int flags, DWORD* error) {
  if (payload::IsDeviceName(LastComponent(mapped))) return OpenDevice(LastComponent(mapped), flags, error);
  if ((flags & O_ACCMODE) != O_RDONLY && IsReadOnlyFile(mapped)) {
    *error = ERROR_ACCESS_DENIED;
    return -1;
  }
  const int fd = RobustOpen(mapped, flags | O_NONBLOCK, 0666);  // the umask takes its bits off
  if (fd < 0) {
    // ENXIO: a FIFO that no one reads, opened for writing.
    *error = errno == ENOENT ? NotFoundError(mapped) : ErrorFromErrno(errno == ENXIO ? EACCES : errno);
    return -1;
  }
  // Only a regular file is a file: a directory, a FIFO, a socket or a device is refused.
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    *error = ERROR_ACCESS_DENIED;
    return -1;
  }
  if ((flags & O_PATH) == 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  *error = ERROR_SUCCESS;
  return fd;
}

}  // namespace

int OpenNamedFile(const char* path, DWORD access, DWORD disposition, char* mapped, bool* existed, DWORD* error) {
  *error = ResolvePath(path, mapped, kPathMax);
  const int flags = OpenFlags(access, disposition);
  if (*error == ERROR_SUCCESS && flags < 0) *error = ERROR_INVALID_PARAMETER;
  if (*error != ERROR_SUCCESS) return -1;
  struct stat st;
  if (existed != nullptr) *existed = (flags & O_CREAT) != 0 && lstat(mapped, &st) == 0;
  return OpenMapped(mapped, flags, error);
}

namespace {

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
  // A file is one file whatever the letter case of its name: creating "QmrSetup.Ex_" where
  // "qmrsetup.ex_" is replaces that file, which keeps the name it has, as on Windows.
  char mapped[kPathMax];
  DWORD error;
  bool existed = false;
  const int fd = OpenNamedFile(path, access, disposition, mapped, &existed, &error);
  if (fd < 0) return Fail(error, INVALID_HANDLE_VALUE);
  const bool read_only = (access & GENERIC_READ) != 0 && (access & GENERIC_WRITE) == 0;
  // Volumes are read from start to end: let the system read further ahead of us as well.
  if (read_only) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  HANDLE handle = AddFile(fd);
  if (handle == INVALID_HANDLE_VALUE) {
    close(fd);
    return Fail(ERROR_TOO_MANY_OPEN_FILES, INVALID_HANDLE_VALUE);
  }
  // Windows tells the caller that CREATE_ALWAYS or OPEN_ALWAYS found the file already there.
  SetError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read_count, LPOVERLAPPED) {
  *read_count = 0;
  OpenSlot slot(file);
  if (!slot) return FALSE;
  const ssize_t n = ReadFull(slot->fd, buffer, count);
  if (n < 0) return Fail(ReadErrorFromErrno(errno), FALSE);
  *read_count = static_cast<DWORD>(n);
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED) {
  *written = 0;
  OpenSlot slot(file);
  if (!slot) return FALSE;
  std::size_t done = 0;
  const bool ok = WriteFull(slot->fd, buffer, count, &done);
  *written = static_cast<DWORD>(done);
  if (!ok) SetError(errno == EBADF ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno));
  return ok ? TRUE : FALSE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG offset, PLONG offset_high, DWORD method) {
  OpenSlot slot(file);
  if (!slot) return INVALID_SET_FILE_POINTER;
  const int fd = slot->fd;
  std::int64_t distance = offset;
  if (offset_high != nullptr)
    distance = static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::uint32_t>(*offset_high)) << 32 |
                                         static_cast<std::uint32_t>(offset));
  const int whence = method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : SEEK_SET;
  const off_t base = whence == SEEK_SET ? 0 : lseek(fd, 0, whence);
  if (base < 0 || base + distance < 0) return Fail(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
  const off_t position = lseek(fd, static_cast<off_t>(base + distance), SEEK_SET);
  if (position < 0) return Fail(ErrorFromErrno(errno), INVALID_SET_FILE_POINTER);
  if (offset_high != nullptr) *offset_high = static_cast<LONG>(static_cast<std::uint64_t>(position) >> 32);
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(position);
}

DWORD WINAPI GetFileSize(HANDLE file, LPDWORD size_high) {
  OpenSlot slot(file);
  struct stat st;
  if (!slot || fstat(slot->fd, &st) != 0) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size_high != nullptr) *size_high = static_cast<DWORD>(size >> 32);
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

BOOL WINAPI SetFileTime(HANDLE file, const FILETIME*, const FILETIME* access, const FILETIME* last_write) {
  OpenSlot slot(file);
  if (!slot) return FALSE;
  // POSIX keeps no settable creation time; the access and last-write times map directly.
  timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
  if ((access != nullptr && !TimespecFromFileTime(*access, &times[0])) ||
      (last_write != nullptr && !TimespecFromFileTime(*last_write, &times[1]))) {
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
  if (futimens(slot->fd, times) != 0) return Fail(ErrorFromErrno(errno), FALSE);
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  // A pseudo handle of a thread or a process closes without doing anything.
  if (IsPseudoHandle(handle) || CloseFileHandle(handle)) return TRUE;
  return Fail(ERROR_INVALID_HANDLE, FALSE);
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  char mapped[kPathMax];
  DWORD error = ResolvePath(path, mapped, sizeof mapped);
  // A device is no file to delete: the one that opens (NUL) refuses it, the others fail to open.
  if (error == ERROR_SUCCESS && payload::IsDeviceName(LastComponent(mapped))) {
    const int fd = OpenDevice(LastComponent(mapped), O_PATH, &error);
    if (fd >= 0) {
      close(fd);
      error = ERROR_INVALID_PARAMETER;
    }
  }
  if (error == ERROR_SUCCESS && IsReadOnlyFile(mapped)) error = ERROR_ACCESS_DENIED;
  if (error == ERROR_SUCCESS && unlink(mapped) != 0)
    error = errno == ENOENT ? NotFoundError(mapped) : ErrorFromErrno(errno == EISDIR ? EACCES : errno);
  SetError(error);
  return error == ERROR_SUCCESS;
}

}  // namespace

bool CloseFileHandle(HANDLE handle) {
  FileSlot* slot = SlotOf(handle);
  if (slot == nullptr) return false;
  int fd;
  {
    std::lock_guard<std::mutex> table(g_table_mutex);
    std::lock_guard<std::mutex> lock(slot->lock);
    if (!slot->used) return false;
    fd = slot->fd;
    slot->used = false;
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
