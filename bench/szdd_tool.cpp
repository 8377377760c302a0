// Our SZDD codec as a command for the benchmarks: compresses or expands one file into another
// (/dev/null included), through read(2) and write(2) as the Linux launcher's LZ32 does.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/posix/fd_stream.h"
#include "szdd/szdd.h"

namespace {

// Maps a whole file for reading, its pages entered at once. Null (and *size 0) for an empty
// file; MAP_FAILED on failure.
const std::uint8_t* MapWhole(int fd, std::size_t* size) {
  struct stat st;
  *size = 0;
  if (fstat(fd, &st) != 0) return static_cast<const std::uint8_t*>(MAP_FAILED);
  *size = static_cast<std::size_t>(st.st_size);
  if (*size == 0) return nullptr;
  return static_cast<const std::uint8_t*>(mmap(nullptr, *size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0));
}

int Usage() {
  std::fprintf(stderr, "usage: qmrbench_szdd compress|expand INPUT OUTPUT\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const bool compress = argc == 4 && std::strcmp(argv[1], "compress") == 0;
  if (argc != 4 || (!compress && std::strcmp(argv[1], "expand") != 0)) return Usage();
  const int in = open(argv[2], O_RDONLY | O_CLOEXEC);
  const int out = in < 0 ? -1 : open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    std::perror(argv[in < 0 ? 2 : 3]);
    return 1;
  }
  if (compress) {
    std::size_t size = 0;
    const std::uint8_t* data = MapWhole(in, &size);
    if (data == MAP_FAILED) {
      std::perror(argv[2]);
      return 1;
    }
    const std::vector<std::uint8_t> packed = szdd::CompressBuffer(data, size);
    if (packed.empty() || !posix::WriteFull(out, packed.data(), packed.size())) {
      std::fprintf(stderr, "%s: cannot write\n", argv[3]);
      return 1;
    }
  } else {
    posix::FdSource source(in);
    posix::FdSink sink(out);
    const szdd::ExpandResult result = szdd::Expand(source, sink);
    if (result.status != szdd::Status::kOk) {
      std::fprintf(stderr, "%s: expansion failed (status %d)\n", argv[2], static_cast<int>(result.status));
      return 1;
    }
  }
  return close(out) == 0 ? 0 : 1;
}
