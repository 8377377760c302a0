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

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/posix/retry.h"

extern char** environ;

namespace {

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int Usage() {
  std::fprintf(stderr,
               "usage: qmrbench_run [--stdin F] [--stdout F] [--stderr F] [--setsid] [--env N=V]... -- PROGRAM ARGS...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* files[3] = {"/dev/null", "/dev/null", "/dev/null"};
  bool setsid = false;
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string flag = argv[i];
    if (flag == "--setsid") {
      setsid = true;
      continue;
    }
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (flag == "--stdin") {
      files[0] = value;
    } else if (flag == "--stdout") {
      files[1] = value;
    } else if (flag == "--stderr") {
      files[2] = value;
    } else if (flag == "--env") {
      const std::string assignment = value;
      const std::string name = assignment.substr(0, assignment.find('=') + 1);
      std::erase_if(environment, [&](const std::string& entry) { return entry.compare(0, name.size(), name) == 0; });
      environment.push_back(assignment);
    } else {
      return Usage();
    }
  }
  if (i + 1 >= argc) return Usage();
  char** program = argv + i + 1;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, files[0], O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, files[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, files[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A new session has no controlling terminal: the program cannot reach one even by its name.
  if (setsid) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  std::vector<char*> env;
  for (std::string& entry : environment) env.push_back(entry.data());
  env.push_back(nullptr);

  const double start = Now();
  pid_t pid;
  const int error = posix_spawnp(&pid, program[0], &actions, &attributes, program, env.data());
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
  const double seconds = Now() - start;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%.6f %ld %d\n", seconds, usage.ru_maxrss, code);
  return 0;
}
