// POSIX layer: the SZDD codec's source and sink over file descriptors, for the LZ32 functions
// (lz.cpp) and the benchmark tool that expands files.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "szdd/szdd.h"

namespace posix {

// Reads a descriptor from where it stands; retries reads an interrupting signal cut short.
class FdSource : public szdd::Source {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  long Read(std::uint8_t* buffer, std::size_t size) override {
    for (;;) {
      const ssize_t n = read(fd_, buffer, size);
      if (n < 0 && errno == EINTR) continue;
      return n < 0 ? -1 : static_cast<long>(n);
    }
  }

 private:
  int fd_;
};

// Writes everything it is given, or reports that it could not.
class FdSink : public szdd::Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool Write(const std::uint8_t* data, std::size_t size) override { return WriteAll(fd_, data, size); }

  static bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd, data + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

}  // namespace posix
