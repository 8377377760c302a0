// Wine's LZ32 expanding one file, timed from inside (Wine's start-up is not counted):
//   qmrbench_lz32.exe INPUT OUTPUT    prints the seconds LZCopy took and the bytes it wrote.
#include <windows.h>
#include <lzexpand.h>

#include <cstdio>

#include "bench/windows/clock.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qmrbench_lz32 INPUT OUTPUT\n");
    return 2;
  }
  OFSTRUCT in_record = {}, out_record = {};
  const INT in = LZOpenFileA(argv[1], &in_record, OF_READ);
  const INT out = LZOpenFileA(argv[2], &out_record, OF_CREATE);
  if (in < 0 || out < 0) {
    std::fprintf(stderr, "qmrbench_lz32: cannot open (%d, %d)\n", in, out);
    return 1;
  }
  const LONGLONG start = qmrbench::Now();
  const LONG written = LZCopy(in, out);
  const LONGLONG end = qmrbench::Now();
  LZClose(in);
  LZClose(out);
  if (written < 0) {
    std::fprintf(stderr, "qmrbench_lz32: LZCopy failed (%ld)\n", written);
    return 1;
  }
  std::printf("%.6f %ld\n", qmrbench::Seconds(start, end), written);
  return 0;
}
