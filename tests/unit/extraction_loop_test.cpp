// The extraction loop over the real POSIX layer: volumes read ahead in blocks still come out
// byte for byte, at every position the handle reports, from any thread; and a whole
// extraction of three volumes makes no heap allocation, the layer's file operations included.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
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

const SystemOps& Os() { return NativeSystem(); }

HANDLE OpenForReading(const std::filesystem::path& path) {
  return Os().CreateFileA(WindowsPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
}

Bytes Read(HANDLE file, DWORD count) {
  Bytes out(count);
  DWORD read = 0;
  EXPECT_TRUE(Os().ReadFile(file, out.data(), count, &read, nullptr));
  out.resize(read);
  return out;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  from = std::min(from, bytes.size());
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), from + count)));
}

// ---- Reading ahead ----

TEST(PosixReadAhead, PiecesOfEverySizeComeOutAsTheFileHoldsThem) {
  Workspace ws;
  // Several read-ahead blocks, and not a whole number of them.
  const Bytes content = RandomBytes(700001, 11);
  WriteBytes(ws.Path("volume"), content);
  HANDLE file = OpenForReading(ws.Path("volume"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  // As the loop reads: a byte, a name, a time and a size, then the data in chunks; small
  // pieces come out of the buffer, large ones take what it holds and read the rest directly.
  const DWORD pieces[] = {1, 12, 8, 4, 16384, 4095, 4096, 16383, 1, 300000, 65536, 0, 16385, 5, 70000};
  Bytes seen;
  for (std::size_t i = 0; seen.size() < content.size(); ++i) {
    const Bytes piece = Read(file, pieces[i % std::size(pieces)]);
    ASSERT_EQ(piece, Slice(content, seen.size(), pieces[i % std::size(pieces)])) << "piece " << i;
    seen.insert(seen.end(), piece.begin(), piece.end());
  }
  EXPECT_TRUE(Read(file, 16384).empty()) << "the end of the file reads as success with 0 bytes";
  EXPECT_TRUE(Read(file, 1).empty());
  EXPECT_TRUE(Os().CloseHandle(file));
}

TEST(PosixReadAhead, FilePointerIsTheHandlesOwnPositionNotTheReadAheads) {
  Workspace ws;
  const Bytes content = RandomBytes(200000, 12);
  WriteBytes(ws.Path("volume"), content);
  HANDLE file = OpenForReading(ws.Path("volume"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Read(file, 10), Slice(content, 0, 10));
  EXPECT_EQ(Os().SetFilePointer(file, 0, nullptr, FILE_CURRENT), 10u) << "not where the block read ended";
  EXPECT_EQ(Os().SetFilePointer(file, 5, nullptr, FILE_CURRENT), 15u);
  EXPECT_EQ(Read(file, 3), Slice(content, 15, 3));
  EXPECT_EQ(Os().SetFilePointer(file, 3, nullptr, FILE_BEGIN), 3u);
  EXPECT_EQ(Read(file, 20000), Slice(content, 3, 20000)) << "nothing read before the seek is handed out";
  EXPECT_EQ(Os().SetFilePointer(file, -4, nullptr, FILE_END), content.size() - 4);
  EXPECT_EQ(Read(file, 100), Slice(content, content.size() - 4, 4));

  // A seek that fails leaves the handle where it was.
  EXPECT_EQ(Os().SetFilePointer(file, 150000, nullptr, FILE_BEGIN), 150000u);
  EXPECT_EQ(Read(file, 7), Slice(content, 150000, 7));
  EXPECT_EQ(Os().SetFilePointer(file, -200000, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(Read(file, 9), Slice(content, 150007, 9));
  LONG high = 0;
  EXPECT_EQ(Os().SetFilePointer(file, 0, &high, FILE_CURRENT), 150016u);
  EXPECT_EQ(high, 0);
  Os().CloseHandle(file);
}

TEST(PosixReadAhead, ManyHandlesOnOneFileEachReadItWhole) {
  // More handles than there are read-ahead buffers: the last ones read directly. Reads on
  // them alternate, so any sharing of buffers or positions would show.
  Workspace ws;
  const Bytes content = RandomBytes(300000, 13);
  WriteBytes(ws.Path("volume"), content);
  for (int pass = 0; pass < 2; ++pass) {  // the second pass gets the buffers the first gave back
    std::vector<HANDLE> files;
    for (int i = 0; i < 7; ++i) {
      files.push_back(OpenForReading(ws.Path("volume")));
      ASSERT_NE(files.back(), INVALID_HANDLE_VALUE);
    }
    for (std::size_t at = 0; at < content.size(); at += 9000) {
      for (HANDLE file : files) ASSERT_EQ(Read(file, 9000), Slice(content, at, 9000)) << "at " << at;
    }
    for (HANDLE file : files) EXPECT_TRUE(Os().CloseHandle(file));
  }
}

TEST(PosixReadAhead, TwoThreadsReadingOneHandleGetEveryPieceOnce) {
  // The file holds the numbers 0, 1, 2, ... as 32-bit words: a piece is sound when its words
  // follow each other from a multiple of the piece's length.
  constexpr std::uint32_t kWords = 600000, kPieceWords = 3;
  Workspace ws;
  Bytes content;
  for (std::uint32_t i = 0; i < kWords; ++i) AppendLE32(&content, i);
  WriteBytes(ws.Path("volume"), content);
  HANDLE file = OpenForReading(ws.Path("volume"));
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::vector<std::uint32_t> starts[2];
  std::atomic<int> unsound{0};
  std::atomic<int> ready{0};
  auto reader = [&](std::vector<std::uint32_t>* seen) {
    // Both start together, so that their reads overlap as much as they can.
    ++ready;
    while (ready.load() < 2) std::this_thread::yield();
    for (;;) {
      std::uint32_t words[kPieceWords];
      DWORD read = 0;
      if (!Os().ReadFile(file, words, sizeof words, &read, nullptr) || read == 0) return;
      if (read != sizeof words || words[0] % kPieceWords != 0) ++unsound;
      for (std::uint32_t i = 1; i < kPieceWords; ++i)
        if (words[i] != words[0] + i) ++unsound;
      seen->push_back(words[0] / kPieceWords);
    }
  };
  std::thread first(reader, &starts[0]), second(reader, &starts[1]);
  first.join();
  second.join();
  Os().CloseHandle(file);
  EXPECT_EQ(unsound.load(), 0);
  std::vector<std::uint32_t> all = starts[0];
  all.insert(all.end(), starts[1].begin(), starts[1].end());
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), kWords / kPieceWords);
  for (std::uint32_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], i);
}

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
