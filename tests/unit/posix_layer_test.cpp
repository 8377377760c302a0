// The POSIX layer as the core relies on it: Windows paths, files and times, texts, processes,
// message boxes on standard input, LZ32.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "platform/posix/cmdline.h"
#include "platform/posix/paths.h"
#include "platform/posix/retry.h"
#include "platform/system.h"
#include "support/workspace.h"
#include "szdd/szdd.h"

namespace qmrtest {
namespace {

const SystemOps& Os() { return NativeSystem(); }

TEST(PosixPaths, WindowsPathsMapAsWineMapsThem) {
  struct Case {
    const char* windows;
    const char* posix;  // null: not mapped
  };
  const Case cases[] = {
      {"Z:\\tmp\\a.txt", "/tmp/a.txt"}, {"z:/tmp/a", "/tmp/a"}, {"\\tmp\\a", "/tmp/a"}, {"rel\\a", "rel/a"},
      {"Z:rel", "rel"},                 {"C:\\Windows", nullptr}, {"\\\\server\\share\\x", nullptr}, {"", nullptr},
      // What a conversion with '?' leaves, and the other characters no name holds.
      {"Z:\\tmp\\?\\a", nullptr}, {"Z:\\tmp\\a?.txt", nullptr}, {"a*", nullptr}, {"a<b", nullptr},
      {"a>b", nullptr},             {"a|b", nullptr},             {"a\"b", nullptr}, {"a\tb", nullptr},
  };
  for (const Case& c : cases) {
    char out[posix::kPathMax];
    const DWORD error = posix::MapPath(c.windows, out, sizeof out);
    if (c.posix == nullptr) {
      EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS)) << c.windows;
      if (std::strpbrk(c.windows, "?*<>|\"\t") != nullptr) {
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_NAME)) << c.windows;
      }
    } else {
      EXPECT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS)) << c.windows;
      EXPECT_STREQ(out, c.posix);
    }
  }
  // The other way, a POSIX path is given a Windows form only when that form names it exactly.
  const Case back[] = {
      {"Z:\\tmp\\q dir\\", "/tmp/q dir/"}, {"Z:\\tmp\\x.\\", "/tmp/x./"}, {nullptr, "/tmp/a\\b"},
      {nullptr, "/tmp/a\\b/"},               {nullptr, "/tmp/setup."},         {nullptr, "/tmp/setup "},
  };
  for (const Case& c : back) {
    char out[posix::kPathMax];
    EXPECT_EQ(posix::ToWindowsPath(c.posix, out, sizeof out), c.windows != nullptr) << c.posix;
    if (c.windows != nullptr) {
      EXPECT_STREQ(out, c.windows);
    }
  }
}

TEST(PosixFiles, ANameStandsForTheSameFileInEverySpellingAndEveryOperation) {
  Workspace ws;
  WriteText(ws.Path("QmrSetup.Ex_"), "upper");
  WriteText(ws.Path("exact"), "exact");
  WriteText(ws.Path("EXACT"), "other");
  char buffer[16] = {};
  DWORD read = 0;
  HANDLE file = Os().CreateFileA(WindowsPath(ws.Path("qmrsetup.ex_")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Os().ReadFile(file, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "upper");
  EXPECT_TRUE(Os().CloseHandle(file));
  EXPECT_FALSE(Os().CloseHandle(file)) << "a handle closes once";

  // Two spellings of one name (a case-sensitive file system): every spelling, the exact one
  // too, and every operation reach the one least in byte order, "EXACT".
  for (const char* spelling : {"exact", "EXACT", "Exact"}) {
    file = Os().CreateFileA(WindowsPath(ws.Path(spelling)).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_TRUE(Os().ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(std::string(buffer, read), "other") << spelling;
    Os().CloseHandle(file);
  }
  std::string exact = WindowsPath(ws.Path("exact")), copy = WindowsPath(ws.Path("copy"));
  OFSTRUCT record = {};
  const INT lz = Os().LZOpenFileA(exact.data(), &record, OF_READ), out = Os().LZOpenFileA(copy.data(), &record, OF_CREATE);
  EXPECT_EQ(Os().LZCopy(lz, out), 5);
  Os().LZClose(lz);
  Os().LZClose(out);
  EXPECT_EQ(ReadText(ws.Path("copy")), "other");
  std::filesystem::remove(ws.Path("copy"));
  EXPECT_TRUE(Os().WritePrivateProfileStringA("A", "k", "v", exact.c_str()));
  EXPECT_EQ(ReadText(ws.Path("EXACT")), "other\r\n[A]\r\nk=v\r\n");
  EXPECT_EQ(ReadText(ws.Path("exact")), "exact");
  EXPECT_TRUE(Os().DeleteFileA(exact.c_str()));
  EXPECT_EQ(ReadText(ws.Path("exact")), "exact") << "the other spelling was deleted";
  WriteText(ws.Path("EXACT"), "other");

  // Creating a file replaces the one whose name differs only in case, which keeps its name.
  file = Os().CreateFileA(WindowsPath(ws.Path("qmrsetup.EX_")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  DWORD written = 0;
  EXPECT_TRUE(Os().WriteFile(file, "new", 3, &written, nullptr));
  Os().CloseHandle(file);
  EXPECT_EQ(FileNames(ws.root()), (std::vector<std::string>{"EXACT", "QmrSetup.Ex_", "exact"}));
  EXPECT_EQ(ReadText(ws.Path("QmrSetup.Ex_")), "new");
  EXPECT_EQ(Os().CreateFileA(WindowsPath(ws.Path("QMRSETUP.EX_")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  EXPECT_TRUE(Os().DeleteFileA(WindowsPath(ws.Path("QMRSETUP.EX_")).c_str()));
  EXPECT_FALSE(std::filesystem::exists(ws.Path("QmrSetup.Ex_")));
  EXPECT_FALSE(Os().DeleteFileA(WindowsPath(ws.Path("QMRSETUP.EX_")).c_str()));
}

// A signal without SA_RESTART is sent to a reader asleep in read(2) on an empty pipe, which
// fails that read with EINTR; the whole read rides it out and stops short only at the end.
TEST(PosixFiles, WholeReadsAndWritesRideOutInterruptingSignalsAndReportFailures) {
  struct sigaction quiet = {}, old = {};
  quiet.sa_handler = [](int) {};
  ASSERT_EQ(sigaction(SIGUSR1, &quiet, &old), 0);
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  unsigned char got[8] = {};
  ssize_t read_count = -2;
  std::atomic<pid_t> reader_id{0};
  std::atomic<bool> finished{false};
  std::thread reader([&] {
    reader_id = gettid();
    read_count = posix::ReadFull(pipe_fds[0], got, sizeof got);
    finished = true;
  });
  const auto wait_until_reading = [&] {  // the kernel names the call a thread sleeps in
    while (reader_id == 0) std::this_thread::yield();
    const std::string file = "/proc/self/task/" + std::to_string(reader_id) + "/syscall";
    for (long call = -1; !finished && call != SYS_read; std::this_thread::yield()) {
      std::ifstream in(file);
      if (!(in >> call)) call = -1;
    }
  };
  for (const char* part : {"ab", "cd", "ef"}) {
    wait_until_reading();
    pthread_kill(reader.native_handle(), SIGUSR1);
    EXPECT_TRUE(posix::WriteFull(pipe_fds[1], part, 2));
  }
  close(pipe_fds[1]);
  reader.join();
  EXPECT_EQ(read_count, 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(got)), "abcdef");
  std::size_t written = 99;
  EXPECT_FALSE(posix::WriteFull(pipe_fds[0], "x", 1, &written)) << "the read end takes no writes";
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(written, 0u);
  close(pipe_fds[0]);
  sigaction(SIGUSR1, &old, nullptr);
}

TEST(PosixFiles, OpenReadSeekAndTheirFailures) {
  Workspace ws;
  WriteText(ws.Path("f"), "0123456789");
  const std::string path = WindowsPath(ws.Path("f"));
  HANDLE file =
      Os().CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Os().SetFilePointer(file, 7, nullptr, FILE_BEGIN), 7u);
  char buffer[8];
  DWORD read = 99;
  EXPECT_TRUE(Os().ReadFile(file, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 3u) << "a short read at the end of the file";
  EXPECT_TRUE(Os().ReadFile(file, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 0u) << "success with 0 bytes at the end";
  EXPECT_EQ(Os().SetFilePointer(file, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(Os().SetFilePointer(file, 100, nullptr, FILE_BEGIN), 100u) << "past the end is allowed";
  EXPECT_EQ(Os().GetFileSize(file, nullptr), 10u);
  Os().CloseHandle(file);

  // A directory is not a file; a missing file is not found; access 0 tests existence only.
  EXPECT_EQ(Os().CreateFileA(WindowsPath(ws.root(), true).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Os().CreateFileA(WindowsPath(ws.Path("missing")).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  chmod(ws.Path("f").c_str(), 0);
  file = Os().CreateFileA(path.c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  Os().CloseHandle(file);
}

TEST(PosixFiles, FifoOrSocketNamedLikeAFileIsRefusedWithoutWaiting) {
  Workspace ws;
  ASSERT_EQ(mkfifo(ws.Path("fifo").c_str(), 0666), 0);
  ASSERT_EQ(mkfifo(ws.Path("read.fifo").c_str(), 0666), 0);
  // Someone holds the reading end: an open for writing would succeed and feed them the data.
  const int reader = open(ws.Path("read.fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  for (const char* name : {"FIFO", "read.fifo"}) {
    SCOPED_TRACE(name);
    std::string path = WindowsPath(ws.Path(name));
    for (const DWORD access : {0ul, static_cast<unsigned long>(GENERIC_READ), static_cast<unsigned long>(GENERIC_WRITE)}) {
      EXPECT_EQ(Os().CreateFileA(path.c_str(), access, 0, nullptr, access == GENERIC_WRITE ? CREATE_ALWAYS : OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr),
                INVALID_HANDLE_VALUE) << access;
      EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)) << access;
    }
    OFSTRUCT record = {};
    EXPECT_LT(Os().LZOpenFileA(path.data(), &record, OF_READ), 0);
    EXPECT_LT(Os().LZOpenFileA(path.data(), &record, OF_CREATE), 0);
    char value[8];
    EXPECT_EQ(Os().GetPrivateProfileStringA("A", "k", "none", value, sizeof value, path.c_str()), 4u);
    EXPECT_FALSE(Os().WritePrivateProfileStringA("A", "k", "v", path.c_str()));
  }
  char left[8];
  EXPECT_LT(read(reader, left, sizeof left), 1) << "nothing was written into the FIFO";
  close(reader);
  EXPECT_TRUE(std::filesystem::is_fifo(ws.Path("fifo")) && std::filesystem::is_fifo(ws.Path("read.fifo")));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(ws.root()), {}), 2) << "no file was made";
}

TEST(PosixFiles, CreatedFileKeepsItsLastWriteTimeTo100NanosecondsAndNeverFollowsALink) {
  Workspace ws;
  const std::string path = WindowsPath(ws.Path("out"));
  for (const std::uint64_t time : {126254943067891234ULL, 116444736000000001ULL, 100000000000000007ULL}) {
    HANDLE file =
        Os().CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(Os().WriteFile(file, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    FILETIME ft = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    EXPECT_TRUE(Os().SetFileTime(file, nullptr, nullptr, &ft));
    Os().CloseHandle(file);
    EXPECT_EQ(LastWriteFileTime(ws.Path("out")), time);
  }
  // FILETIME 0 and -1 leave the time as it was; any other with its top bit set is no time.
  const std::uint64_t kept = LastWriteFileTime(ws.Path("out"));
  for (const std::uint64_t time : {0ULL, ~0ULL, 0x8000000000000000ULL, 0x817DD9F3B0E5D481ULL, ~1ULL}) {
    HANDLE file = Os().CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME ft = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    const bool leaves = time == 0 || time == ~0ULL;
    EXPECT_EQ(Os().SetFileTime(file, nullptr, nullptr, &ft), leaves ? TRUE : FALSE) << time;
    if (!leaves) {
      EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    Os().CloseHandle(file);
    EXPECT_EQ(LastWriteFileTime(ws.Path("out")), kept) << time;
  }
  // Someone planted a link where the launcher writes: the write fails, the target is untouched.
  WriteText(ws.Path("target"), "precious");
  std::filesystem::create_symlink(ws.Path("target"), ws.Path("link"));
  EXPECT_EQ(Os().CreateFileA(WindowsPath(ws.Path("link")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadText(ws.Path("target")), "precious");
}

TEST(PosixProcess, ModulePathAndTemporaryDirectoryAreWindowsPaths) {
  char buffer[260];
  const DWORD n = Os().GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  ASSERT_GT(n, 2u);
  EXPECT_EQ(std::string(buffer, 3), "Z:\\");
  EXPECT_EQ(std::string(buffer), WindowsPath(std::filesystem::read_symlink("/proc/self/exe")));
  // Cut short, as Windows does: the size given, the text cut and terminated, the error set.
  EXPECT_EQ(Os().GetModuleFileNameA(nullptr, buffer, 4), 4u);
  EXPECT_STREQ(buffer, "Z:\\");
  EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  const char* saved = std::getenv("TMPDIR");
  const std::string saved_value = saved != nullptr ? saved : "";
  setenv("TMPDIR", "/var/tmp/q dir", 1);
  EXPECT_EQ(Os().GetTempPathA(sizeof buffer, buffer), 17u);
  EXPECT_STREQ(buffer, "Z:\\var\\tmp\\q dir\\");
  EXPECT_EQ(Os().GetTempPathA(10, buffer), 18u) << "too small: the size needed";
  unsetenv("TMPDIR");
  Os().GetTempPathA(sizeof buffer, buffer);
  EXPECT_STREQ(buffer, "Z:\\tmp\\");
  // A backslash in a POSIX name has no Windows form that names it: the call fails.
  setenv("TMPDIR", "/tmp/a\\b", 1);
  EXPECT_EQ(Os().GetTempPathA(sizeof buffer, buffer), 0u);
  EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  unsetenv("TMPDIR");
  if (saved != nullptr) setenv("TMPDIR", saved_value.c_str(), 1);
}

TEST(PosixText, WsprintfFormatsTheConversionsTheLauncherUses) {
  char out[1100];
  Os().wsprintfA(out, "Disk%d", 10);
  EXPECT_STREQ(out, "Disk10");
  Os().wsprintfA(out, "%c: %s %d%% %u %x %05d|%-3s|", 'Q', "1.13a", -7, 4000000000u, 255, 42, "a");
  EXPECT_STREQ(out, "Q: 1.13a -7% 4000000000 ff 00042|a  |");
  const std::string long_text(2000, 'x');
  EXPECT_EQ(Os().wsprintfA(out, "%s", long_text.c_str()), 1023) << "at most 1024 bytes with the NUL";
}

TEST(PosixCommandLine, ProgramAndArgumentsAreSplitByTheWindowsRules) {
  using posix::ProgramCandidates;
  auto quoted = ProgramCandidates("\"C:\\Documents and Settings\\q\\Temp\\qmrsetup.exe\" /x");
  ASSERT_EQ(quoted.size(), 1u);
  EXPECT_EQ(quoted[0].program, "C:\\Documents and Settings\\q\\Temp\\qmrsetup.exe");
  EXPECT_EQ(quoted[0].arguments, "/x");

  auto unquoted = ProgramCandidates("C:\\Documents and Settings\\setup");
  ASSERT_EQ(unquoted.size(), 3u);
  EXPECT_EQ(unquoted[0].program, "C:\\Documents.exe");
  EXPECT_EQ(unquoted[0].arguments, "and Settings\\setup");
  EXPECT_EQ(unquoted[1].program, "C:\\Documents and.exe");
  EXPECT_EQ(unquoted[2].program, "C:\\Documents and Settings\\setup.exe");

  const std::vector<std::string> expected = {"a b", "c\"d", "e\\\\f", "g\\", "h\"i", ""};
  EXPECT_EQ(posix::SplitArguments("\"a b\" c\\\"d e\\\\f \"g\\\\\" \"h\"\"i\" \"\""), expected);
}

// Waits until `path` exists (a started program writes it), up to a few seconds.
bool WaitForFile(const std::filesystem::path& path) {
  for (int i = 0; i < 500; ++i) {
    if (std::filesystem::exists(path) && std::filesystem::file_size(path) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(PosixProcess, ProgramIsStartedByItsQuotedPathEvenWithoutExecutePermission) {
  Workspace ws;
  const std::filesystem::path dir = ws.Path("Documents and Settings");
  WriteText(dir / "setup.exe", "#!/bin/sh\nprintf '%s|' \"$0\" \"$@\" > \"$(dirname \"$0\")/ran\"\n");
  chmod((dir / "setup.exe").c_str(), 0644);
  // A program planted where the unquoted command line would be tried first.
  WriteText(ws.Path("Documents.exe"), "#!/bin/sh\necho ran > \"$(dirname \"$0\")/planted-ran\"\n");
  chmod(ws.Path("Documents.exe").c_str(), 0755);

  std::string command_line = "\"" + WindowsPath(dir / "setup.exe") + "\" one \"two three\"";
  STARTUPINFOA startup = {};
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(Os().CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                                  nullptr, nullptr, &startup, &info));
  ASSERT_TRUE(WaitForFile(dir / "ran"));
  EXPECT_EQ(ReadText(dir / "ran"), (dir / "setup.exe").string() + "|one|two three|");
  EXPECT_NE(std::filesystem::status(dir / "setup.exe").permissions() & std::filesystem::perms::owner_exec,
            std::filesystem::perms::none);
  EXPECT_FALSE(std::filesystem::exists(ws.Path("planted-ran")));

  // Unquoted, the process service tries the shorter path first, as Windows does.
  std::string unquoted = WindowsPath(dir / "setup.exe");
  ASSERT_TRUE(Os().CreateProcessA(nullptr, unquoted.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &info));
  EXPECT_TRUE(WaitForFile(ws.Path("planted-ran")));

  std::string missing = "\"" + WindowsPath(ws.Path("missing.exe")) + "\"";
  EXPECT_FALSE(Os().CreateProcessA(nullptr, missing.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &info));
  EXPECT_EQ(Os().GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  WriteText(ws.Path("notaprogram.exe"), "MZ\x90");
  std::string bad = "\"" + WindowsPath(ws.Path("notaprogram.exe")) + "\"";
  EXPECT_FALSE(Os().CreateProcessA(nullptr, bad.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
}

// Runs `body` with standard input and standard error redirected to pipes fed with `input`;
// returns what was written to standard error, and leaves in `rest` what stayed unread.
std::string WithTerminal(const std::string& input, const std::function<void()>& body, std::string* rest) {
  int in[2], err[2];
  EXPECT_EQ(pipe(in), 0);
  EXPECT_EQ(pipe(err), 0);
  EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(in[1]);
  const int saved_in = dup(0), saved_err = dup(2);
  dup2(in[0], 0);
  dup2(err[1], 2);
  close(in[0]);
  close(err[1]);
  body();
  dup2(saved_err, 2);
  close(saved_err);
  fcntl(0, F_SETFL, O_NONBLOCK);
  char buffer[4096];
  rest->clear();
  ssize_t n;
  while ((n = read(0, buffer, sizeof buffer)) > 0) rest->append(buffer, static_cast<std::size_t>(n));
  dup2(saved_in, 0);
  close(saved_in);
  std::string output;
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  while ((n = read(err[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<std::size_t>(n));
  close(err[0]);
  return output;
}

TEST(PosixMessageBox, AnswersComeFromStandardInputOneLineAtATime) {
  std::vector<int> answers;
  std::string rest;
  const std::string shown = WithTerminal(
      "\nYES\nmaybe\nno\nc\nOK\nleft for the setup program\n",
      [&] {
        answers.push_back(Os().MessageBoxA(nullptr, "Continue?\n", "Caption", MB_YESNO));
        answers.push_back(Os().MessageBoxA(nullptr, "Again?", "Caption", MB_YESNO));
        answers.push_back(Os().MessageBoxA(nullptr, "Third", "Caption", MB_YESNO));  // "maybe", then "no"
        answers.push_back(Os().MessageBoxA(nullptr, "Insert", "Caption", MB_OKCANCEL | MB_ICONINFORMATION));
        answers.push_back(Os().MessageBoxA(nullptr, "Error", "Caption", MB_OK | MB_ICONERROR));
      },
      &rest);
  EXPECT_EQ(answers, (std::vector<int>{IDYES, IDYES, IDNO, IDCANCEL, IDOK}));
  EXPECT_EQ(rest, "left for the setup program\n") << "nothing past the answers is consumed";
  EXPECT_NE(shown.find("== Caption ==\nContinue?\n(Yes/No) > "), std::string::npos) << shown;
  EXPECT_NE(shown.find("== Caption == [information]\nInsert\n(OK/Cancel) > "), std::string::npos) << shown;
  EXPECT_NE(shown.find("== Caption == [error]\nError\n(OK) > "), std::string::npos) << shown;

  answers.clear();
  WithTerminal("", [&] {
    answers.push_back(Os().MessageBoxA(nullptr, "?", "C", MB_YESNO));
    answers.push_back(Os().MessageBoxA(nullptr, "?", "C", MB_OKCANCEL));
  }, &rest);
  EXPECT_EQ(answers, (std::vector<int>{IDNO, IDCANCEL})) << "the end of input declines";
}

TEST(PosixLz, ExpandsCompressedFilesCopiesOthersAndReportsTruncation) {
  Workspace ws;
  const Bytes text = ToBytes(std::string(3000, 'a') + "quillmoor" + std::string(3000, 'b'));
  Bytes compressed = szdd::CompressBuffer(text.data(), text.size());
  WriteBytes(ws.Path("c.in_"), compressed);
  WriteText(ws.Path("plain"), "not compressed");
  compressed.resize(compressed.size() / 2);
  WriteBytes(ws.Path("cut.in_"), compressed);

  auto copy = [&](const std::string& from, const std::string& to) {
    OFSTRUCT a = {}, b = {};
    std::string source = WindowsPath(ws.Path(from)), target = WindowsPath(ws.Path(to));
    const INT in = Os().LZOpenFileA(source.data(), &a, OF_READ);
    const INT out = Os().LZOpenFileA(target.data(), &b, OF_CREATE);
    EXPECT_GE(in, 0);
    EXPECT_GE(out, 0);
    EXPECT_EQ(a.cBytes, sizeof(OFSTRUCT));
    const LONG n = Os().LZCopy(in, out);
    Os().LZClose(in);
    Os().LZClose(out);
    return n;
  };
  EXPECT_EQ(copy("c.in_", "c.inf"), static_cast<LONG>(text.size()));
  EXPECT_EQ(ReadBytes(ws.Path("c.inf")), text);
  EXPECT_EQ(copy("plain", "plain.out"), 14);
  EXPECT_EQ(ReadText(ws.Path("plain.out")), "not compressed");
  const LONG cut = copy("cut.in_", "cut.inf");
  EXPECT_GT(cut, 0);
  EXPECT_LT(cut, static_cast<LONG>(text.size())) << "a truncated file yields a short positive count";

  std::string long_path = WindowsPath(ws.root()) + "\\" + std::string(128, 'x');
  OFSTRUCT record = {};
  EXPECT_LT(Os().LZOpenFileA(long_path.data(), &record, OF_CREATE), 0) << "the path does not fit the record";
  EXPECT_FALSE(std::filesystem::exists(ws.Path(std::string(128, 'x'))));

  // A read-only file is not written through, though root could.
  WriteText(ws.Path("ro.inf"), "kept");
  chmod(ws.Path("ro.inf").c_str(), 0444);
  std::string read_only = WindowsPath(ws.Path("RO.inf"));
  EXPECT_LT(Os().LZOpenFileA(read_only.data(), &record, OF_CREATE), 0);
  EXPECT_EQ(record.nErrCode, ERROR_ACCESS_DENIED);
  EXPECT_EQ(ReadText(ws.Path("ro.inf")), "kept");
  chmod(ws.Path("ro.inf").c_str(), 0644);
}

// A member the layer forgot to fill would be a null call, found only when it is made.
TEST(PosixLayer, FillsEveryMemberOfTheTable) {
  EXPECT_EQ(FirstUnfilledOperation(Os()), -1);
  SystemOps holed = Os();
  holed.LZClose = nullptr;
  EXPECT_EQ(FirstUnfilledOperation(holed), static_cast<int>(sizeof(SystemOps) / sizeof holed.LZClose) - 1);
  holed.CreateFileA = nullptr;
  EXPECT_EQ(FirstUnfilledOperation(holed), 0);
}

}  // namespace
}  // namespace qmrtest
