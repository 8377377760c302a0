// Test support: child processes with piped standard input and standard error.
#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qmrtest {

ChildProcess::ChildProcess(const std::filesystem::path& program, const std::filesystem::path& directory,
                           const std::map<std::string, std::string>& environment) {
  int in[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> variables;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string variable = *e;
    const std::string name = variable.substr(0, variable.find('='));
    if (environment.count(name) == 0) variables.push_back(variable);
  }
  for (const auto& [name, value] : environment) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const std::string path = program.string();
  const std::string dir = directory.string();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    setsid();  // no controlling terminal: answers come on standard input only
    dup2(in[0], 0);
    dup2(err[1], 2);
    if (chdir(dir.c_str()) != 0) _exit(126);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    execve(path.c_str(), argv, envp.data());
    _exit(127);
  }
  close(in[0]);
  close(err[1]);
  input_ = in[1];
  error_fd_ = err[0];
}

ChildProcess::~ChildProcess() {
  if (!exited_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (input_ >= 0) close(input_);
  if (error_fd_ >= 0) close(error_fd_);
}

void ChildProcess::Answer(const std::string& line) {
  const std::string text = line + "\n";
  if (write(input_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
    throw std::runtime_error("cannot write to the child");
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

void ChildProcess::ReadAvailable(int timeout_ms) {
  if (error_fd_ < 0) return;
  pollfd p = {error_fd_, POLLIN, 0};
  if (poll(&p, 1, timeout_ms) <= 0) return;
  char buffer[4096];
  const ssize_t n = read(error_fd_, buffer, sizeof buffer);
  if (n > 0) {
    error_.append(buffer, static_cast<std::size_t>(n));
  } else {
    close(error_fd_);  // every writer is gone
    error_fd_ = -1;
  }
}

bool ChildProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (error_.find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > end || error_fd_ < 0) return error_.find(text) != std::string::npos;
    ReadAvailable(50);
  }
  return true;
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!exited_) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      exited_ = true;
      exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      break;
    }
    if (std::chrono::steady_clock::now() > end) return -1;
    ReadAvailable(20);
  }
  // What the child wrote before it ended (a program it started may hold the pipe open longer).
  for (int i = 0; i < 5 && error_fd_ >= 0; ++i) ReadAvailable(10);
  return exit_code_;
}

bool WaitForFile(const std::filesystem::path& path, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    std::error_code ignored;
    if (std::filesystem::exists(path, ignored) && std::filesystem::file_size(path, ignored) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace qmrtest
