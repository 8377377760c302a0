// POSIX layer, processes and threads: the module path, the temporary directory, starting
// programs by Windows command lines, threads, and the thread's last error.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/cmdline.h"
#include "platform/posix/layer.h"
#include "platform/posix/paths.h"
#include "platform/posix/retry.h"

extern char** environ;

namespace posix {

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;
std::atomic<DWORD> g_next_thread_id{1};

// The Windows form of a POSIX path, into `out`. False, with the last error set, when it does
// not fit or has no form that names it exactly (ToWindowsPath).
bool WindowsForm(const char* posix_path, char* out, std::size_t size) {
  if (ToWindowsPath(posix_path, out, size)) return true;
  return Fail(std::strlen(posix_path) + 3 > size ? ERROR_FILENAME_EXCED_RANGE : ERROR_INVALID_NAME, false);
}

DWORD WINAPI GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
  char posix_path[kPathMax];
  const ssize_t n = readlink("/proc/self/exe", posix_path, sizeof posix_path - 1);
  if (n < 0) return Fail(ErrorFromErrno(errno), 0);
  posix_path[n] = '\0';
  char windows_path[kPathMax];
  if (!WindowsForm(posix_path, windows_path, sizeof windows_path)) return 0;
  return CopyModulePath(windows_path, buffer, size);
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  std::string directory = "/tmp";
  // The process never changes its environment, so reading it from any thread is safe.
  const char* tmpdir = std::getenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe)
  if (tmpdir != nullptr && tmpdir[0] != '\0') directory = tmpdir;
  if (directory[0] != '/') {
    char cwd[kPathMax];
    if (getcwd(cwd, sizeof cwd) != nullptr) directory = std::string(cwd) + "/" + directory;
  }
  // Mapped with its trailing slash, so that a last name ending in a dot or a space, which
  // names a directory faithfully once the backslash follows it, is not refused.
  if (directory.back() != '/') directory += '/';
  char windows_path[kPathMax];
  if (!WindowsForm(directory.c_str(), windows_path, sizeof windows_path)) return 0;
  return CopyTempPath(windows_path, buffer, size);
}

void WINAPI GetStartupInfoA(LPSTARTUPINFOA info) {
  std::memset(info, 0, sizeof *info);
  info->cb = sizeof *info;
}

// Resolves a Windows path as any file is, into `posix_path` when it names a regular file.
bool FindRegularFile(const std::string& windows_path, std::string* posix_path) {
  struct stat st;
  char mapped[kPathMax];
  if (ResolvePath(windows_path.c_str(), mapped, sizeof mapped) != ERROR_SUCCESS || stat(mapped, &st) != 0 ||
      !S_ISREG(st.st_mode))
    return false;
  *posix_path = mapped;
  return true;
}

// Finds the file a program token names: a path is resolved as any file is; a bare name is
// looked for in the current directory, then in PATH. False when there is no such regular file.
bool LocateProgram(const std::string& program, std::string* posix_path) {
  if (program.find_first_of("\\/:") != std::string::npos) return FindRegularFile(program, posix_path);
  std::string search = ".:";
  if (const char* path = std::getenv("PATH")) search += path;  // NOLINT(concurrency-mt-unsafe): see GetTempPathA
  std::size_t start = 0;
  while (start <= search.size()) {
    std::size_t end = search.find(':', start);
    if (end == std::string::npos) end = search.size();
    const std::string directory = search.substr(start, end - start);
    if (FindRegularFile((directory.empty() ? "." : directory) + "\\" + program, posix_path)) return true;
    start = end + 1;
  }
  return false;
}

// Windows starts a program whatever its permission bits; give it execute permission where it
// has read permission, so the same file starts here too.
void MakeExecutable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return;
  const mode_t read_bits = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
  const mode_t wanted = st.st_mode | (read_bits >> 2) | S_IXUSR;
  if ((st.st_mode & 07777) != (wanted & 07777)) chmod(path.c_str(), wanted & 07777);
}

bool ReadAll(int fd, void* buffer, std::size_t size) { return ReadFull(fd, buffer, size) == static_cast<ssize_t>(size); }

// Starts `program` detached (it is not this process's child, so it never lingers as a zombie
// and runs on after this process ends), with the variables of a Windows environment block
// ("A=1\0B=2\0\0"), or this process's own when it is null. Returns its process id, or -1 with
// errno set.
pid_t Spawn(const std::string& program, const std::vector<std::string>& arguments, const char* directory,
            char* environment) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (char* p = environment; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) envp.push_back(p);
  envp.push_back(nullptr);
  char* const* env = environment != nullptr ? envp.data() : environ;

  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return -1;
  const pid_t middle = fork();
  if (middle < 0) {
    const int error = errno;
    close(report[0]);
    close(report[1]);
    errno = error;
    return -1;
  }
  if (middle == 0) {
    // Only async-signal-safe calls from here on: the parent may have other threads.
    const pid_t child = fork();
    if (child == 0) {
      int error = 0;
      if (directory != nullptr && chdir(directory) != 0) error = errno;
      if (error == 0) {
        execve(program.c_str(), argv.data(), env);
        error = errno;
      }
      ssize_t ignored = write(report[1], &error, sizeof error);
      (void)ignored;
      _exit(127);
    }
    const pid_t reported = child;
    ssize_t ignored = write(report[1], &reported, sizeof reported);
    (void)ignored;
    _exit(child < 0 ? 1 : 0);
  }
  close(report[1]);
  int status = 0;
  RobustWaitpid(middle, &status, 0);
  pid_t child = -1;
  int error = 0;
  if (!ReadAll(report[0], &child, sizeof child) || child < 0) {
    error = EAGAIN;
  } else if (ReadAll(report[0], &error, sizeof error)) {
    child = -1;  // the program could not be started: the child reported why
  }
  close(report[0]);
  if (child < 0) {
    errno = error != 0 ? error : EAGAIN;
    return -1;
  }
  return child;
}

BOOL StartProgram(const std::string& posix_program, const std::string& arguments, LPVOID environment,
                  LPCSTR current_directory, LPPROCESS_INFORMATION info) {
  char directory[kPathMax];
  if (current_directory != nullptr) {
    const DWORD error = MapPath(current_directory, directory, sizeof directory);
    if (error != ERROR_SUCCESS) return Fail(error, FALSE);
  }
  MakeExecutable(posix_program);
  const pid_t pid = Spawn(posix_program, SplitArguments(arguments), current_directory != nullptr ? directory : nullptr,
                          static_cast<char*>(environment));
  if (pid < 0) return Fail(errno == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ErrorFromErrno(errno), FALSE);
  if (info != nullptr) {
    info->hProcess = NewPseudoHandle();
    info->hThread = NewPseudoHandle();
    info->dwProcessId = static_cast<DWORD>(pid);
    info->dwThreadId = static_cast<DWORD>(pid);
  }
  SetError(ERROR_SUCCESS);
  return TRUE;
}

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL, DWORD, LPVOID environment, LPCSTR current_directory, LPSTARTUPINFOA,
                           LPPROCESS_INFORMATION info) {
  std::vector<ProgramCandidate> candidates = ProgramCandidates(command_line != nullptr ? command_line : "");
  // A program given apart is the one program; the arguments are what follows the whole first token.
  if (application != nullptr) candidates = {{application, candidates.empty() ? "" : candidates.back().arguments}};
  for (const ProgramCandidate& candidate : candidates) {
    std::string posix_program;
    if (LocateProgram(candidate.program, &posix_program))
      return StartProgram(posix_program, candidate.arguments, environment, current_directory, info);
  }
  return Fail(ERROR_FILE_NOT_FOUND, FALSE);
}

// There is no elevation here: the shell's execution starts the program as it is.
BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* info) {
  std::string posix_program;
  if (info == nullptr || info->lpFile == nullptr || !LocateProgram(info->lpFile, &posix_program))
    return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  PROCESS_INFORMATION process = {};
  if (!StartProgram(posix_program, info->lpParameters != nullptr ? info->lpParameters : "", nullptr,
                    info->lpDirectory, &process))
    return FALSE;
  info->hProcess = (info->fMask & SEE_MASK_NOCLOSEPROCESS) ? process.hProcess : nullptr;
  return TRUE;
}

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD) { return S_OK; }

struct ThreadStart {
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
};

void* RunThread(void* argument) {
  ThreadStart start = *static_cast<ThreadStart*>(argument);
  delete static_cast<ThreadStart*>(argument);
  start.start(start.parameter);
  return nullptr;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, std::size_t stack_size, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD, LPDWORD thread_id) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stack_size != 0) pthread_attr_setstacksize(&attributes, stack_size);
  auto* argument = new ThreadStart{start, parameter};
  pthread_t thread;
  const int error = pthread_create(&thread, &attributes, RunThread, argument);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete argument;
    return Fail(ErrorFromErrno(error), nullptr);
  }
  if (thread_id != nullptr) *thread_id = g_next_thread_id.fetch_add(1);
  return NewPseudoHandle();
}

DWORD WINAPI GetLastError() { return t_last_error; }
void WINAPI SetLastError(DWORD error) { t_last_error = error; }

}  // namespace

void SetError(DWORD error) { t_last_error = error; }

DWORD CopyModulePath(const char* path, LPSTR buffer, DWORD size) {
  const std::size_t n = std::strlen(path);
  if (size == 0) return 0;
  const std::size_t copied = n < size ? n : size - 1;
  std::memcpy(buffer, path, copied);
  buffer[copied] = '\0';
  if (n >= size) return Fail(ERROR_INSUFFICIENT_BUFFER, size);
  SetError(ERROR_SUCCESS);
  return static_cast<DWORD>(n);
}

DWORD CopyTempPath(const char* path, LPSTR buffer, DWORD size) {
  const std::size_t n = std::strlen(path);
  if (n + 1 > size) return static_cast<DWORD>(n + 1);  // the size needed; nothing written
  std::memcpy(buffer, path, n + 1);
  return static_cast<DWORD>(n);
}

void FillProcessOps(SystemOps& ops) {
  ops.GetModuleFileNameA = GetModuleFileNameA;
  ops.GetTempPathA = GetTempPathA;
  ops.GetStartupInfoA = GetStartupInfoA;
  ops.CreateProcessA = CreateProcessA;
  ops.ShellExecuteExA = ShellExecuteExA;
  ops.CoInitializeEx = CoInitializeEx;
  ops.CreateThread = CreateThread;
  ops.GetLastError = GetLastError;
  ops.SetLastError = SetLastError;
}

}  // namespace posix
