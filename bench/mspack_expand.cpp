// libmspack's SZDD decompressor as a command for the benchmarks, through its own default I/O.
//
//   qmrbench_mspack INPUT OUTPUT
#include <mspack.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qmrbench_mspack INPUT OUTPUT\n");
    return 2;
  }
  msszdd_decompressor* decompressor = mspack_create_szdd_decompressor(nullptr);
  if (decompressor == nullptr) return 1;
  const int error = decompressor->decompress(decompressor, argv[1], argv[2]);
  mspack_destroy_szdd_decompressor(decompressor);
  if (error != MSPACK_ERR_OK) {
    std::fprintf(stderr, "qmrbench_mspack: %s: error %d\n", argv[1], error);
    return 1;
  }
  return 0;
}
