// Test support: a real program run as a child, with standard input to write answers to and
// standard error to read what it shows.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qmrtest {

class ChildProcess {
 public:
  // Starts `program` in `directory` with the environment of this process plus `environment`.
  ChildProcess(const std::filesystem::path& program, const std::filesystem::path& directory,
               const std::map<std::string, std::string>& environment);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Writes one line to the child's standard input.
  void Answer(const std::string& line);
  // Closes the child's standard input: it reads the end of input from then on.
  void CloseInput();
  // Waits until the child's standard error holds `text` (counted from the start), up to `timeout`.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20));
  // Waits for the child to exit; returns its exit code, or -1 when it was killed or timed out.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Everything read from standard error so far.
  const std::string& error_output() const { return error_; }

 private:
  void ReadAvailable(int timeout_ms);

  pid_t pid_ = -1;
  int input_ = -1;
  int error_fd_ = -1;
  std::string error_;
  bool exited_ = false;
  int exit_code_ = -1;
};

// Waits until `path` exists and is not empty.
bool WaitForFile(const std::filesystem::path& path, std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace qmrtest
