// POSIX layer: the SZDD codec's source and sink over file descriptors, for the LZ32 functions
// (lz.cpp) and the benchmark tool that expands files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/posix/retry.h"
#include "szdd/szdd.h"

namespace posix {

// Reads a descriptor from where it stands; retries reads an interrupting signal cut short.
class FdSource : public szdd::Source {
 public:
  explicit FdSource(int fd) : fd_(fd) {}
  long Read(std::uint8_t* buffer, std::size_t size) override {
    const ssize_t n = RobustRead(fd_, buffer, size);
    return n < 0 ? -1 : static_cast<long>(n);
  }

 private:
  int fd_;
};

// Writes everything it is given, or reports that it could not.
class FdSink : public szdd::Sink {
 public:
  explicit FdSink(int fd) : fd_(fd) {}
  bool Write(const std::uint8_t* data, std::size_t size) override { return WriteFull(fd_, data, size); }

 private:
  int fd_;
};

}  // namespace posix
