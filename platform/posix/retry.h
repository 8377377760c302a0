// POSIX layer: system calls retried when a signal interrupts them, and whole reads and writes
// built on them. Every read, write, open and wait of the layer goes through these.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace posix {

// Calls `call` again for as long as it fails with EINTR; its last result (errno set on failure).
template <typename Call>
auto Retrying(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

inline int RobustOpen(const char* path, int flags, mode_t mode = 0) {
  return Retrying([&] { return open(path, flags, mode); });
}

inline ssize_t RobustRead(int fd, void* buffer, std::size_t size) {
  return Retrying([&] { return read(fd, buffer, size); });
}

inline pid_t RobustWaitpid(pid_t pid, int* status, int options) {
  return Retrying([&] { return waitpid(pid, status, options); });
}

// Reads until `size` bytes or the end of the file: the count read, or -1 with errno set.
inline ssize_t ReadFull(int fd, void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = RobustRead(fd, out + done, size - done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// Writes all `size` bytes: true, or false with errno set (ENOSPC for a write that took nothing).
// `*written`, when given, receives the count written either way.
inline bool WriteFull(int fd, const void* data, std::size_t size, std::size_t* written = nullptr) {
  const auto* in = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < size) {
    const ssize_t n = Retrying([&] { return write(fd, in + done, size - done); });
    if (n > 0) done += static_cast<std::size_t>(n);
    if (n == 0) errno = ENOSPC;
    ok = n > 0;
  }
  if (written != nullptr) *written = done;
  return ok;
}

}  // namespace posix
