// Runs one program and reports its wall time and peak resident set, measured from here: the
// clock starts just before the program is spawned and stops when wait4 returns it.
//
//   qmrbench_run [--stdin FILE] [--stdout FILE] [--stderr FILE] [--setsid] [--env NAME=VALUE]...
//                -- PROGRAM [ARGUMENT...]
// prints "<seconds> <peak RSS in KiB> <exit status>" (the status is 128 + the signal when the
// program was killed).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/retry.h"

extern char** environ;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: qmrbench_run [--stdin F] [--stdout F] [--stderr F] [--setsid] [--env N=V]... -- PROGRAM ARGS...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Standard input, output and error of the program, by the options that name them.
  const char* files[3] = {"/dev/null", "/dev/null", "/dev/null"};
  const std::string streams[3] = {"--stdin", "--stdout", "--stderr"};
  bool setsid = false;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string flag = argv[i];
    if (flag == "--setsid") {
      setsid = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    char* value = argv[++i];
    const std::size_t stream = static_cast<std::size_t>(std::find(streams, streams + 3, flag) - streams);
    if (stream < 3) {
      files[stream] = value;
    } else if (flag == "--env") {
      putenv(value);  // NAME=VALUE, in place of any NAME the environment has
    } else {
      return Usage();
    }
  }
  if (i + 1 >= argc) return Usage();
  char** program = argv + i + 1;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd < 3; ++fd)
    posix_spawn_file_actions_addopen(&actions, fd, files[fd], fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A new session has no controlling terminal: the program cannot reach one even by its name.
  if (setsid) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  const int error = posix_spawnp(&pid, program[0], &actions, &attributes, program, environ);
  if (error != 0) {
    std::fprintf(stderr, "qmrbench_run: %s: %s\n", program[0], std::strerror(error));
    return 1;
  }
  int status = 0;
  rusage usage = {};
  if (posix::Retrying([&] { return wait4(pid, &status, 0, &usage); }) < 0) {
    std::perror("qmrbench_run: wait4");
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %ld %d\n", seconds, usage.ru_maxrss, code);
  return 0;
}
