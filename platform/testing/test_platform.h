// The testing platform, linked into tests only: a table that wraps another (normally the
// native one) and can fail the Nth call of any operation, answer message boxes from a script,
// stand in for the module's path, temporary directory and resources, and record every
// message box, progress position and process start.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/system.h"

namespace testing_platform {

// One id for each operation of QMR_SYSTEM_OPERATIONS: Op::kCreateFileA, Op::kReadFile, ...
enum class Op {
#define QMR_OPERATION_ID(name, failure, error) k##name,
  QMR_SYSTEM_OPERATIONS(QMR_OPERATION_ID)
#undef QMR_OPERATION_ID
  kCount,
};

const char* OpName(Op op);

// The code-page rule a test may impose: whether a byte opens a double-byte character.
using LeadByteFunction = BOOL(WINAPI*)(BYTE);

enum class Fault {
  kFail,      // the call fails (a null or invalid result, FALSE, a negative LZ code)
  kShort,     // a read or write does half of what was asked and reports success; LZCopy stops short
  kDiskFull,  // a write fails with ERROR_DISK_FULL after writing nothing
};

struct MessageBoxCall {
  HWND owner;
  std::string text;
  std::string caption;
  UINT style;
};

struct ShellExecution {
  std::string verb;
  std::string file;
  HWND owner;
  ULONG mask;
};

struct ProcessCall {
  std::string application;  // empty when none was given
  std::string command_line;
  DWORD flags;
};

class TestPlatform {
 public:
  // Installs itself as the table in use, wrapping `base`; the destructor restores the table that
  // was in use before.
  explicit TestPlatform(const SystemOps& base = NativeSystem());
  ~TestPlatform();
  TestPlatform(const TestPlatform&) = delete;
  TestPlatform& operator=(const TestPlatform&) = delete;

  // Makes call number `nth` (counted from 1) of `op` fail. With `path_part`, only calls whose
  // path (or the path the handle was opened with) contains it are counted.
  void InjectFault(Op op, int nth, Fault fault = Fault::kFail, const std::string& path_part = {});
  // How many calls of `op` were made.
  int Calls(Op op) const;

  // Answers message boxes in order; once the script is spent, a box is answered with its
  // second button (No / Cancel) and counted as unexpected.
  void AnswerMessageBoxes(std::vector<int> answers);
  // Answers message boxes with a function instead (it may change files before answering).
  void OnMessageBox(std::function<int(const MessageBoxCall&)> answer) { Store(answer_function_, std::move(answer)); }
  std::vector<MessageBoxCall> MessageBoxes() const { return Locked(message_boxes_); }
  int UnexpectedMessageBoxes() const { return Locked(unexpected_boxes_); }

  // Positions sent to the progress bar (PBM_SETPOS to control 1000), in order.
  std::vector<int> ProgressPositions() const { return Locked(progress_); }
  // Called on the sending thread before each position is passed on.
  void OnProgress(std::function<void(int)> hook) { Store(progress_hook_, std::move(hook)); }

  // The dialog: the screen size it is centred on (the wrapped table's unless set), where it
  // was moved, how it ended, and a hook called before each PostMessageA is passed on.
  void SetScreenSize(int width, int height);
  std::vector<RECT> WindowMoves() const { return Locked(moves_); }
  std::vector<INT_PTR> EndDialogResults() const { return Locked(end_results_); }
  void BeforePostMessage(std::function<void(HWND, UINT, WPARAM, LPARAM)> hook) { Store(post_hook_, std::move(hook)); }

  // Stand-ins for what the module would report.
  void SetModulePath(const std::string& windows_path) { module_path_ = windows_path; }
  void SetTempPath(const std::string& windows_path) { temp_path_ = windows_path; }
  void SetCustomResource(int id, const std::vector<std::uint8_t>& bytes);
  void RemoveCustomResource(int id);
  void SetLeadBytePredicate(LeadByteFunction is_lead) { is_lead_ = is_lead; }

  // Processes: recorded, and started through the wrapped table only when asked to.
  void StartProcesses(bool start) { start_processes_ = start; }
  // The error a failing CreateProcessA reports (ERROR_FILE_NOT_FOUND unless set).
  void SetCreateProcessError(DWORD error) { create_process_error_ = error; }
  std::vector<ProcessCall> Processes() const { return Locked(processes_); }
  std::vector<ShellExecution> ShellExecutions() const { return Locked(shell_executions_); }
  void RecordShellExecution(const ShellExecution& call) { Append(shell_executions_, call); }

  // Files and LZ handles opened through the table and not yet closed.
  int OpenFileHandles() const;
  int OpenLzHandles() const;

  const SystemOps& ops() const { return ops_; }
  const SystemOps& base() const { return base_; }

  // ---- Used by the wrappers ----
  static TestPlatform* Active();
  // True when this call of `op` (with its path) is to fail; `fault`, when given, tells how.
  bool ShouldFail(Op op, const std::string& path, Fault* fault = nullptr);
  std::string PathOf(HANDLE handle) const;
  void TrackHandle(HANDLE handle, const std::string& path);
  void ForgetHandle(HANDLE handle);
  void TrackLz(INT handle, bool open);
  int AnswerMessageBox(const MessageBoxCall& call);
  void RecordProgress(int position) { Append(progress_, position); }
  void RecordMove(const RECT& rect) { Append(moves_, rect); }
  void RecordEndDialog(INT_PTR result) { Append(end_results_, result); }
  bool ScreenSize(int* width, int* height) const;
  std::function<void(int)> progress_hook() const { return Locked(progress_hook_); }
  std::function<void(HWND, UINT, WPARAM, LPARAM)> post_hook() const { return Locked(post_hook_); }
  void RecordProcess(const ProcessCall& call) { Append(processes_, call); }
  bool starts_processes() const { return start_processes_; }
  // Threads started through the table; the destructor waits until they have all returned,
  // so no thread runs on into the next test.
  void ThreadStarted();
  void ThreadFinished();
  DWORD create_process_error() const { return create_process_error_; }
  const std::string* module_path() const { return module_path_ ? &*module_path_ : nullptr; }
  const std::string* temp_path() const { return temp_path_ ? &*temp_path_ : nullptr; }
  // A stand-in resource: null when none was set; `missing` when it was removed.
  const std::vector<std::uint8_t>* CustomResource(int id, bool* missing) const;
  LeadByteFunction lead_byte_predicate() const { return is_lead_; }

 private:
  struct FaultPlan {
    Op op;
    int nth;
    Fault fault;
    std::string path_part;
    int seen = 0;
  };

  // A copy of `member` taken, `member` set, or `item` appended, under the platform's lock.
  template <typename Value>
  Value Locked(const Value& member) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return member;
  }
  template <typename Value>
  void Store(Value& member, Value value) {
    std::lock_guard<std::mutex> lock(mutex_);
    member = std::move(value);
  }
  template <typename Item>
  void Append(std::vector<Item>& list, const Item& item) {
    std::lock_guard<std::mutex> lock(mutex_);
    list.push_back(item);
  }

  SystemOps base_;
  SystemOps ops_;
  mutable std::mutex mutex_;
  std::vector<FaultPlan> faults_;
  int calls_[static_cast<int>(Op::kCount)] = {};
  std::vector<int> answers_;
  std::size_t next_answer_ = 0;
  std::function<int(const MessageBoxCall&)> answer_function_;
  std::vector<MessageBoxCall> message_boxes_;
  int unexpected_boxes_ = 0;
  std::vector<int> progress_;
  std::function<void(int)> progress_hook_;
  std::function<void(HWND, UINT, WPARAM, LPARAM)> post_hook_;
  int screen_width_ = 0, screen_height_ = 0;
  std::vector<RECT> moves_;
  std::vector<INT_PTR> end_results_;
  std::vector<ProcessCall> processes_;
  std::vector<ShellExecution> shell_executions_;
  bool start_processes_ = false;
  DWORD create_process_error_ = ERROR_FILE_NOT_FOUND;
  std::optional<std::string> module_path_, temp_path_;
  std::map<int, std::vector<std::uint8_t>> resources_;
  std::map<int, bool> removed_resources_;
  std::map<HANDLE, std::string> handles_;
  std::map<INT, bool> lz_handles_;
  LeadByteFunction is_lead_ = nullptr;
  TestPlatform* previous_ = nullptr;
  int running_threads_ = 0;
  std::condition_variable threads_done_;  // the platform this one was installed over, restored after it
};

}  // namespace testing_platform
