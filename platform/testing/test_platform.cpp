// The testing platform: fault injection, scripted message boxes, stand-ins and records.
#include "platform/testing/test_platform.h"

#include <type_traits>

#include "format/layout.h"
#include "platform/memory_resource.h"
#include "platform/posix/layer.h"

namespace testing_platform {

namespace {

TestPlatform* g_active = nullptr;

// Stand-in resources of every platform, keyed by platform and id; a handle points into this map.
std::map<std::pair<const TestPlatform*, int>, MemoryResource> g_stand_in_resources;

TestPlatform& T() { return *g_active; }
const SystemOps& B() { return g_active->base(); }

// The path a call concerns, for faults aimed at one file: the path its file handle (the first
// argument) was opened with, or its last text argument (the file of a profile call), never an
// integer resource id; empty for other calls.
template <typename First, typename... Rest>
std::string PathArgument(First first, Rest... rest) {
  if constexpr (std::is_same_v<First, HANDLE>) {
    return T().PathOf(first);
  } else {
    const char* path = nullptr;
    const auto note = [&path](auto argument) {
      if constexpr (std::is_convertible_v<decltype(argument), const char*>) {
        if (argument != nullptr && !IS_INTRESOURCE(argument)) path = argument;
      }
    };
    note(first);
    (note(rest), ...);
    return path != nullptr ? std::string(path) : std::string();
  }
}

// The last error the list gives a failure of `op`.
DWORD FailureError(Op op) {
  static constexpr DWORD kErrors[] = {
#define QMR_FAILURE_ERROR(name, failure, error) static_cast<DWORD>(error),
      QMR_SYSTEM_OPERATIONS(QMR_FAILURE_ERROR)
#undef QMR_FAILURE_ERROR
  };
  return kErrors[static_cast<int>(op)];
}

// True when this call of `op` (with its path) is to fail with the last error the list gives it,
// which is then set.
bool FailsAsListed(Op op, const std::string& path) {
  if (!T().ShouldFail(op, path)) return false;
  B().SetLastError(FailureError(op));
  return true;
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD flags, HANDLE template_file) {
  if (FailsAsListed(Op::kCreateFileA, path)) return INVALID_HANDLE_VALUE;
  HANDLE handle = B().CreateFileA(path, access, share, security, disposition, flags, template_file);
  if (handle != INVALID_HANDLE_VALUE) T().TrackHandle(handle, path);
  return handle;
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped) {
  Fault fault;
  if (T().ShouldFail(Op::kReadFile, T().PathOf(file), &fault)) {
    if (fault == Fault::kShort) return B().ReadFile(file, buffer, count / 2, read, overlapped);
    *read = 0;
    B().SetLastError(FailureError(Op::kReadFile));
    return FALSE;
  }
  return B().ReadFile(file, buffer, count, read, overlapped);
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written, LPOVERLAPPED overlapped) {
  Fault fault;
  if (T().ShouldFail(Op::kWriteFile, T().PathOf(file), &fault)) {
    if (fault == Fault::kShort) return B().WriteFile(file, buffer, count / 2, written, overlapped);
    *written = 0;
    B().SetLastError(fault == Fault::kDiskFull ? ERROR_DISK_FULL : FailureError(Op::kWriteFile));
    return FALSE;
  }
  return B().WriteFile(file, buffer, count, written, overlapped);
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  const std::string path = T().PathOf(handle);
  T().ForgetHandle(handle);
  const BOOL closed = B().CloseHandle(handle);  // a handle is always closed, even when the result is faked
  if (FailsAsListed(Op::kCloseHandle, path)) return FALSE;
  return closed;
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer, DWORD size,
                                      LPCSTR path) {
  // A failing read reads a file that is not there: the caller gets the default value.
  if (T().ShouldFail(Op::kGetPrivateProfileStringA, path)) path = "Z:\\nonexistent\\qmr.ini";
  return B().GetPrivateProfileStringA(section, key, default_value, buffer, size, path);
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  if (FailsAsListed(Op::kFindResourceA, "")) return nullptr;
  if (IS_INTRESOURCE(name)) {
    const int id = static_cast<int>(reinterpret_cast<std::uintptr_t>(name));
    bool missing = false;
    const std::vector<std::uint8_t>* bytes = T().CustomResource(id, &missing);
    if (missing) return nullptr;
    if (bytes != nullptr) {
      MemoryResource& stand_in = g_stand_in_resources[{g_active, id}];
      stand_in = {bytes->data(), static_cast<DWORD>(bytes->size())};
      return reinterpret_cast<HRSRC>(&stand_in);
    }
  }
  return B().FindResourceA(module, name, type);
}

bool IsStandIn(const void* resource) {
  for (auto& [id, stand_in] : g_stand_in_resources)
    if (resource == &stand_in) return true;
  return false;
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
  if (FailsAsListed(Op::kLoadResource, "")) return nullptr;
  if (IsStandIn(resource)) return LoadMemoryResource(module, resource);
  return B().LoadResource(module, resource);
}

LPVOID WINAPI LockResource(HGLOBAL loaded) {
  if (FailsAsListed(Op::kLockResource, "")) return nullptr;
  if (IsStandIn(loaded)) return LockMemoryResource(loaded);
  return B().LockResource(loaded);
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
  if (IsStandIn(resource)) return SizeofMemoryResource(module, resource);
  return B().SizeofResource(module, resource);
}

int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
  if (FailsAsListed(Op::kLoadStringA, "")) {
    if (size > 0) buffer[0] = '\0';
    return 0;
  }
  return B().LoadStringA(instance, id, buffer, size);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
  if (FailsAsListed(Op::kGetModuleFileNameA, "")) return 0;
  // A stand-in is copied out by the POSIX layer's own rule for the path.
  if (const std::string* path = T().module_path()) return posix::CopyModulePath(path->c_str(), buffer, size);
  return B().GetModuleFileNameA(module, buffer, size);
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer) {
  if (FailsAsListed(Op::kGetTempPathA, "")) return 0;
  if (const std::string* path = T().temp_path()) return posix::CopyTempPath(path->c_str(), buffer, size);
  return B().GetTempPathA(size, buffer);
}

BOOL WINAPI CreateProcessA(LPCSTR application, LPSTR command_line, LPSECURITY_ATTRIBUTES process_security,
                           LPSECURITY_ATTRIBUTES thread_security, BOOL inherit, DWORD flags, LPVOID environment,
                           LPCSTR directory, LPSTARTUPINFOA startup, LPPROCESS_INFORMATION info) {
  T().RecordProcess({application != nullptr ? application : "", command_line != nullptr ? command_line : "", flags});
  if (T().ShouldFail(Op::kCreateProcessA, command_line != nullptr ? command_line : "")) {
    B().SetLastError(T().create_process_error());
    return FALSE;
  }
  if (T().starts_processes())
    return B().CreateProcessA(application, command_line, process_security, thread_security, inherit, flags,
                              environment, directory, startup, info);
  if (info != nullptr) *info = {};
  return TRUE;
}

BOOL WINAPI ShellExecuteExA(SHELLEXECUTEINFOA* info) {
  T().RecordShellExecution({info->lpVerb != nullptr ? info->lpVerb : "", info->lpFile != nullptr ? info->lpFile : "",
                            info->hwnd, info->fMask});
  if (FailsAsListed(Op::kShellExecuteExA, info->lpFile != nullptr ? info->lpFile : "")) return FALSE;
  if (T().starts_processes()) return B().ShellExecuteExA(info);
  return TRUE;
}

struct ThreadStart {
  LPTHREAD_START_ROUTINE start;
  LPVOID parameter;
  TestPlatform* platform;
};

DWORD WINAPI RunTrackedThread(LPVOID argument) {
  const ThreadStart start = *static_cast<ThreadStart*>(argument);
  delete static_cast<ThreadStart*>(argument);
  const DWORD result = start.start(start.parameter);
  start.platform->ThreadFinished();
  return result;
}

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, std::size_t stack, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD id) {
  if (FailsAsListed(Op::kCreateThread, "")) return nullptr;
  auto* argument = new ThreadStart{start, parameter, &T()};
  T().ThreadStarted();
  HANDLE thread = B().CreateThread(security, stack, RunTrackedThread, argument, flags, id);
  if (thread == nullptr) {
    delete argument;
    T().ThreadFinished();
  }
  return thread;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  if (FailsAsListed(Op::kMessageBoxA, text != nullptr ? text : "")) return 0;  // the box could not be shown
  return T().AnswerMessageBox({owner, text != nullptr ? text : "", caption != nullptr ? caption : "", style});
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int control, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == PBM_SETPOS && control == 1000) {
    T().RecordProgress(static_cast<int>(wparam));
    if (auto hook = T().progress_hook()) hook(static_cast<int>(wparam));
  }
  if (B().SendDlgItemMessageA == nullptr || dialog == nullptr) return 0;
  return B().SendDlgItemMessageA(dialog, control, message, wparam, lparam);
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (auto hook = T().post_hook()) hook(window, message, wparam, lparam);
  return B().PostMessageA(window, message, wparam, lparam);
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  T().RecordEndDialog(result);
  return B().EndDialog(dialog, result);
}

int WINAPI GetSystemMetrics(int index) {
  int width, height;
  if (T().ScreenSize(&width, &height) && (index == SM_CXSCREEN || index == SM_CYSCREEN))
    return index == SM_CXSCREEN ? width : height;
  return B().GetSystemMetrics(index);
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
  T().RecordMove({x, y, x + width, y + height});
  return B().MoveWindow(window, x, y, width, height, repaint);
}

BOOL WINAPI IsDBCSLeadByte(BYTE byte) {
  if (auto predicate = T().lead_byte_predicate()) return predicate(byte);
  return B().IsDBCSLeadByte(byte);
}

INT WINAPI LZOpenFileA(LPSTR path, LPOFSTRUCT record, WORD style) {
  if (FailsAsListed(Op::kLZOpenFileA, path)) return -1;
  const INT handle = B().LZOpenFileA(path, record, style);
  if (handle >= 0) T().TrackLz(handle, true);
  return handle;
}

LONG WINAPI LZCopy(INT source, INT destination) {
  Fault fault;
  if (T().ShouldFail(Op::kLZCopy, "", &fault)) {
    if (fault == Fault::kShort) return 1;  // as on a truncated source: a short positive count
    return fault == Fault::kDiskFull ? LZERROR_WRITE : LZERROR_READ;
  }
  return B().LZCopy(source, destination);
}

void WINAPI LZClose(INT handle) {
  T().TrackLz(handle, false);
  B().LZClose(handle);
}

}  // namespace

const char* OpName(Op op) {
  static const char* const kNames[] = {
#define QMR_OPERATION_NAME(name, failure, error) #name,
      QMR_SYSTEM_OPERATIONS(QMR_OPERATION_NAME)
#undef QMR_OPERATION_NAME
  };
  static_assert(sizeof kNames / sizeof kNames[0] == static_cast<int>(Op::kCount));
  return kNames[static_cast<int>(op)];
}

TestPlatform::TestPlatform(const SystemOps& base) : base_(base), ops_(base) {
  // Every listed operation first gets the plain wrapper: counted, and failing with its listed
  // failure value and last error when a fault is injected. The wrappers below are for faults
  // that need more: short reads and writes, stand-ins, records of handles, boxes and processes.
#define QMR_PLAIN_WRAPPER(name, failure, error)                            \
  ops_.name = [](auto... args) -> decltype(B().name(args...)) {            \
    if (FailsAsListed(Op::k##name, PathArgument(args...))) return failure; \
    return B().name(args...);                                              \
  };
  QMR_SYSTEM_OPERATIONS(QMR_PLAIN_WRAPPER)
#undef QMR_PLAIN_WRAPPER
  ops_.CreateFileA = testing_platform::CreateFileA;
  ops_.ReadFile = testing_platform::ReadFile;
  ops_.WriteFile = testing_platform::WriteFile;
  ops_.CloseHandle = testing_platform::CloseHandle;
  ops_.GetPrivateProfileStringA = testing_platform::GetPrivateProfileStringA;
  ops_.FindResourceA = testing_platform::FindResourceA;
  ops_.LoadResource = testing_platform::LoadResource;
  ops_.LockResource = testing_platform::LockResource;
  ops_.SizeofResource = testing_platform::SizeofResource;
  ops_.LoadStringA = testing_platform::LoadStringA;
  ops_.GetModuleFileNameA = testing_platform::GetModuleFileNameA;
  ops_.GetTempPathA = testing_platform::GetTempPathA;
  ops_.CreateProcessA = testing_platform::CreateProcessA;
  ops_.ShellExecuteExA = testing_platform::ShellExecuteExA;
  ops_.CreateThread = testing_platform::CreateThread;
  ops_.MessageBoxA = testing_platform::MessageBoxA;
  ops_.SendDlgItemMessageA = testing_platform::SendDlgItemMessageA;
  ops_.PostMessageA = testing_platform::PostMessageA;
  ops_.EndDialog = testing_platform::EndDialog;
  ops_.GetSystemMetrics = testing_platform::GetSystemMetrics;
  ops_.MoveWindow = testing_platform::MoveWindow;
  ops_.IsDBCSLeadByte = testing_platform::IsDBCSLeadByte;
  ops_.LZOpenFileA = testing_platform::LZOpenFileA;
  ops_.LZCopy = testing_platform::LZCopy;
  ops_.LZClose = testing_platform::LZClose;
  previous_ = g_active;
  g_active = this;
  InstallSystem(&ops_);
}

TestPlatform::~TestPlatform() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    threads_done_.wait(lock, [this] { return running_threads_ == 0; });
  }
  std::erase_if(g_stand_in_resources, [this](const auto& item) { return item.first.first == this; });
  g_active = previous_;
  InstallSystem(previous_ != nullptr ? &previous_->ops_ : nullptr);
}

TestPlatform* TestPlatform::Active() { return g_active; }

void TestPlatform::InjectFault(Op op, int nth, Fault fault, const std::string& path_part) {
  Append(faults_, {op, nth, fault, path_part});
}

int TestPlatform::Calls(Op op) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_[static_cast<int>(op)];
}

bool TestPlatform::ShouldFail(Op op, const std::string& path, Fault* fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++calls_[static_cast<int>(op)];
  bool fail = false;
  for (FaultPlan& plan : faults_) {
    if (plan.op != op) continue;
    if (!plan.path_part.empty() && path.find(plan.path_part) == std::string::npos) continue;
    if (++plan.seen == plan.nth && !fail) {
      fail = true;
      if (fault != nullptr) *fault = plan.fault;
    }
  }
  return fail;
}

void TestPlatform::AnswerMessageBoxes(std::vector<int> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_ = std::move(answers);
  next_answer_ = 0;
}

int TestPlatform::AnswerMessageBox(const MessageBoxCall& call) {
  std::function<int(const MessageBoxCall&)> function;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    message_boxes_.push_back(call);
    if (next_answer_ < answers_.size()) return answers_[next_answer_++];
    function = answer_function_;
    if (!function) {
      ++unexpected_boxes_;
      const UINT buttons = call.style & 0x0F;
      return buttons == MB_YESNO ? IDNO : buttons == MB_OKCANCEL ? IDCANCEL : IDOK;
    }
  }
  return function(call);
}

void TestPlatform::ThreadStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++running_threads_;
}

void TestPlatform::ThreadFinished() {
  std::lock_guard<std::mutex> lock(mutex_);
  --running_threads_;
  threads_done_.notify_all();
}

void TestPlatform::SetScreenSize(int width, int height) {
  std::lock_guard<std::mutex> lock(mutex_);
  screen_width_ = width;
  screen_height_ = height;
}

bool TestPlatform::ScreenSize(int* width, int* height) const {
  std::lock_guard<std::mutex> lock(mutex_);
  *width = screen_width_;
  *height = screen_height_;
  return screen_width_ != 0 || screen_height_ != 0;
}

void TestPlatform::SetCustomResource(int id, const std::vector<std::uint8_t>& bytes) {
  resources_[id] = bytes;
  removed_resources_.erase(id);
}

void TestPlatform::RemoveCustomResource(int id) {
  resources_.erase(id);
  removed_resources_[id] = true;
}

const std::vector<std::uint8_t>* TestPlatform::CustomResource(int id, bool* missing) const {
  *missing = removed_resources_.count(id) != 0;
  auto it = resources_.find(id);
  return it == resources_.end() ? nullptr : &it->second;
}

std::string TestPlatform::PathOf(HANDLE handle) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = handles_.find(handle);
  return it == handles_.end() ? std::string() : it->second;
}

void TestPlatform::TrackHandle(HANDLE handle, const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  handles_[handle] = path;
}

void TestPlatform::ForgetHandle(HANDLE handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  handles_.erase(handle);
}

void TestPlatform::TrackLz(INT handle, bool open) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open) {
    lz_handles_[handle] = true;
  } else {
    lz_handles_.erase(handle);
  }
}

int TestPlatform::OpenFileHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(handles_.size());
}

int TestPlatform::OpenLzHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(lz_handles_.size());
}

}  // namespace testing_platform
