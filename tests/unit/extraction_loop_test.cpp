// The extraction loop over the real POSIX layer: a whole extraction of three volumes makes no
// heap allocation, the layer's file operations included.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "extract/extract.h"
#include "platform/system.h"
#include "support/set_builder.h"
#include "support/workspace.h"
#include "szdd/szdd.h"

// ---- Counting heap allocations ----
//
// Every allocation of the process is seen: under a sanitizer through its allocator's hooks,
// otherwise by standing in for the C library's allocation functions (operator new and the C
// library itself allocate through them). Only those made while counting are counted.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QMR_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QMR_SANITIZER_ALLOCATOR 1
#endif
#endif

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

void NoteAllocation() {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

#if defined(QMR_SANITIZER_ALLOCATOR)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                          void (*free_hook)(const volatile void*));
namespace {
void OnMalloc(const volatile void*, std::size_t) { NoteAllocation(); }
void OnFree(const volatile void*) {}
[[maybe_unused]] const int g_hooks_installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
}  // namespace
#else
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);

void* malloc(std::size_t size) {
  NoteAllocation();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  NoteAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* block, std::size_t size) {
  NoteAllocation();
  return __libc_realloc(block, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  NoteAllocation();
  return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  NoteAllocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** block, std::size_t alignment, std::size_t size) {
  NoteAllocation();
  *block = __libc_memalign(alignment, size);
  return *block != nullptr ? 0 : ENOMEM;
}
}
#endif

namespace qmrtest {
namespace {

// ---- The extraction loop and the heap ----

// The table the loop runs on: the POSIX layer itself, its progress dialog and threads
// included, except for what a test process cannot be (the launcher's resources) and the setup
// program, which is not started. Counting runs on the worker thread's extraction and stops
// where the hand-off to LZ32 begins; allocations of the dialog's thread meanwhile count too.
unsigned char g_offset_bytes[4];
std::atomic<int> g_progress_messages{0};
std::atomic<int> g_last_progress{0};
std::atomic<int> g_message_boxes{0};
std::atomic<int> g_result{-1};
int g_resource;

HRSRC WINAPI TestFindResource(HMODULE, LPCSTR, LPCSTR) { return reinterpret_cast<HRSRC>(&g_resource); }
HGLOBAL WINAPI TestLoadResource(HMODULE, HRSRC resource) { return reinterpret_cast<HGLOBAL>(resource); }
LPVOID WINAPI TestLockResource(HGLOBAL) { return g_offset_bytes; }
DWORD WINAPI TestSizeofResource(HMODULE, HRSRC) { return sizeof g_offset_bytes; }
LRESULT WINAPI TestSendDlgItemMessage(HWND dialog, int control, UINT message, WPARAM position, LPARAM lparam) {
  ++g_progress_messages;
  g_last_progress = static_cast<int>(position);
  return NativeSystem().SendDlgItemMessageA(dialog, control, message, position, lparam);
}
int WINAPI TestMessageBox(HWND, LPCSTR, LPCSTR, UINT) {
  ++g_message_boxes;
  return IDCANCEL;
}
INT WINAPI TestLzOpenFile(LPSTR path, LPOFSTRUCT record, WORD style) {
  g_counting = false;
  return NativeSystem().LZOpenFileA(path, record, style);
}
BOOL WINAPI TestCreateProcess(LPCSTR, LPSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCSTR,
                              LPSTARTUPINFOA, LPPROCESS_INFORMATION) {
  return TRUE;
}

// The worker: the extraction loop, counted, then the end of the dialog.
DWORD WINAPI CountedWorker(LPVOID) {
  g_counting = true;
  g_result = ExtractAndLaunch();
  g_counting = false;
  NativeSystem().PostMessageA(g_run.dialog, WM_COMMAND, IDOK, 0);
  return 0;
}

INT_PTR CALLBACK CountingDialog(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  if (message == WM_INITDIALOG) {
    g_run.dialog = dialog;
    NativeSystem().CreateThread(nullptr, 0, CountedWorker, nullptr, 0, nullptr);
    return TRUE;
  }
  if (message == WM_COMMAND && LOWORD(wparam) == IDOK) {
    NativeSystem().EndDialog(dialog, IDOK);
    return TRUE;
  }
  return FALSE;
}

Bytes CompressedText(const char* text, char missing) {
  szdd::CompressOptions options;
  options.missing_char = static_cast<std::uint8_t>(missing);
  return szdd::CompressBuffer(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text), options);
}

TEST(ExtractionLoop, ThreeVolumesAreExtractedWithoutAHeapAllocation) {
  struct Entry {
    std::string name;
    Bytes data;
    int volume;
  };
  const std::vector<Entry> entries = {
      {"qmrsetup.in_", CompressedText("[Setup]\r\nTitle=Quillmoor\r\n", 'f'), 0},
      {"a.bin", RandomBytes(70000, 21), 0},
      {"empty", {}, 0},
      {"qmrsetup.ex_", CompressedText("#!/bin/sh\nexit 0\n", 'e'), 1},
      {"b.bin", RandomBytes(16384, 22), 1},
      {"c.bin", RandomBytes(16385, 23), 1},
      {"one", {'1'}, 1},
      {"d.bin", RandomBytes(400000, 24), 2},
  };
  std::int32_t total = 0;
  for (const Entry& entry : entries) total += static_cast<std::int32_t>(entry.data.size());
  std::vector<VolumeBuilder> volumes(3, VolumeBuilder(total));
  for (const Entry& entry : entries) volumes[static_cast<std::size_t>(entry.volume)].Entry(entry.name, entry.data);

  Workspace ws;
  std::filesystem::create_directories(ws.Path("dl"));
  std::filesystem::create_directories(ws.Path("tmp"));
  Bytes launcher = RandomBytes(1000, 25);
  launcher.insert(launcher.end(), volumes[0].bytes().begin(), volumes[0].bytes().end());
  WriteBytes(ws.Path("dl/qmrsfx"), launcher);
  WriteBytes(ws.Path("dl/Disk2"), volumes[1].bytes());
  WriteBytes(ws.Path("dl/Disk3"), volumes[2].bytes());
  const Bytes offset = LE32(1000);
  std::memcpy(g_offset_bytes, offset.data(), sizeof g_offset_bytes);

  SystemOps ops = NativeSystem();
  ops.FindResourceA = TestFindResource;
  ops.LoadResource = TestLoadResource;
  ops.LockResource = TestLockResource;
  ops.SizeofResource = TestSizeofResource;
  ops.SendDlgItemMessageA = TestSendDlgItemMessage;
  ops.MessageBoxA = TestMessageBox;
  ops.LZOpenFileA = TestLzOpenFile;
  ops.CreateProcessA = TestCreateProcess;
  InstallSystem(&ops);
  ResetExtractionState();
  std::strcpy(g_run.module_path, WindowsPath(ws.Path("dl/qmrsfx")).c_str());
  std::strcpy(g_run.temp_dir, WindowsPath(ws.Path("tmp"), true).c_str());

  g_allocations = 0;
  NativeSystem().DialogBoxParamA(nullptr, MAKEINTRESOURCEA(102), nullptr, CountingDialog, 0);
  const int result = g_result;
  InstallSystem(nullptr);
  const long allocations = g_allocations.load();

  std::printf("heap allocations during the extraction loop: %ld\n", allocations);
  EXPECT_EQ(allocations, 0);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(g_run.volume_number, 3);
  EXPECT_EQ(g_message_boxes, 0);
  EXPECT_EQ(g_last_progress, 100);
  EXPECT_LE(g_progress_messages, 100);
  for (const Entry& entry : entries) {
    if (entry.name.rfind("qmrsetup.", 0) == 0) continue;
    EXPECT_EQ(ReadBytes(ws.Path("tmp") / entry.name), entry.data) << entry.name;
  }
  EXPECT_EQ(ReadText(ws.Path("tmp/qmrsetup.exe")), "#!/bin/sh\nexit 0\n");
}

}  // namespace
}  // namespace qmrtest
