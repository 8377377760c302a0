// The two platform layers side by side: every case of the file-system table (file_cases.h) is
// run through the Windows layer under Wine and through the POSIX layer, each in a fresh
// directory made alike, and the outcomes compared field by field: each step's result, last
// error and data, then the files left on disk with their contents, read-only bit and times.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>

#include "file_cases.h"
#include "support/workspace.h"
#include "wine_session.h"

namespace qmrtest {
namespace {

namespace fs = std::filesystem;
using filecases::Case;

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
    out += byte < 0x20 || byte == 0x7F ? std::string(hex) : std::string(1, c);
  }
  return out;
}

// Makes the case's directory and its files, as both layers will find them.
void SetUpCase(const fs::path& root, const Case& c) {
  const fs::path directory = root / c.id;
  fs::create_directories(directory);
  for (const filecases::Setup& setup : c.setup) {
    if (setup.name == nullptr) break;
    if (setup.text == nullptr) {
      fs::create_directory(directory / setup.name);
      continue;
    }
    WriteText(directory / setup.name, setup.text);
    if (setup.read_only) chmod((directory / setup.name).c_str(), 0444);
  }
}

// What a case left on disk, one line per entry, sorted by name: its kind, read-only bit,
// last-write time (as a FILETIME, or "now" for one set while the cases ran) and contents.
std::string DiskState(const fs::path& directory) {
  std::map<std::string, std::string> entries;
  const auto now = static_cast<std::int64_t>(LastWriteFileTime(directory.parent_path()));
  for (const auto& entry : fs::directory_iterator(directory)) {
    struct stat st;
    lstat(entry.path().c_str(), &st);
    std::string line = S_ISDIR(st.st_mode) ? "dir" : "file";
    if ((st.st_mode & 0222) == 0) line += " read-only";
    if (!S_ISDIR(st.st_mode)) {
      const auto time = static_cast<std::int64_t>(LastWriteFileTime(entry.path()));
      const std::int64_t hour = 36000000000LL;
      line += " time=" + (time > now - hour && time < now + hour ? std::string("now") : std::to_string(time));
      line += " [" + Escaped(ReadText(entry.path())) + "]";
    }
    entries[Escaped(entry.path().filename().string())] = line;
  }
  std::string state;
  for (const auto& [name, line] : entries) state += "  " + name + ": " + line + "\n";
  return state;
}

// The runner's lines, by case id: "<step> <result> <error> <data>" each.
std::map<std::string, std::string> StepsById(const std::string& output) {
  std::map<std::string, std::string> steps;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // Wine's console text ends in CR LF
    const auto tab = line.find('\t');
    if (tab == std::string::npos) continue;
    std::string rest = line.substr(tab + 1);
    for (char& ch : rest) ch = ch == '\t' ? ' ' : ch;
    steps[line.substr(0, tab)] += "  " + rest + "\n";
  }
  return steps;
}

TEST(FileSemantics, WindowsLayerUnderWineAndPosixLayerAgreeOnEveryCase) {
  Workspace ws;
  // The two roots are as long as each other, so a case's paths are too.
  const fs::path windows_root = ws.Path("w"), posix_root = ws.Path("p");
  for (const Case& c : filecases::kCases) {
    SetUpCase(windows_root, c);
    SetUpCase(posix_root, c);
  }
  WineSession session("file-semantics");
  const CommandResult windows =
      session.Run(MingwProgram("tests/e2e/windows/qmrfilecases.exe"), {WindowsPath(windows_root)});
  ASSERT_EQ(windows.status, 0) << windows.errors;
  const CommandResult posix = RunCommand({QMR_FILECASES_PATH, WindowsPath(posix_root)}, {}, ws.root());
  ASSERT_EQ(posix.status, 0) << posix.errors;

  const std::map<std::string, std::string> windows_steps = StepsById(windows.output);
  const std::map<std::string, std::string> posix_steps = StepsById(posix.output);
  for (const Case& c : filecases::kCases) {
    SCOPED_TRACE(c.id);
    const std::string windows_answer = windows_steps.count(c.id) ? windows_steps.at(c.id) : "(none)\n";
    const std::string posix_answer = posix_steps.count(c.id) ? posix_steps.at(c.id) : "(none)\n";
    const std::string windows_disk = DiskState(windows_root / c.id), posix_disk = DiskState(posix_root / c.id);
    if (c.results_differ == nullptr) {
      EXPECT_EQ(posix_answer, windows_answer) << "steps (step result error data), Windows under Wine:\n"
                                              << windows_answer << "POSIX layer:\n" << posix_answer;
    } else if (posix_answer != windows_answer) {
      std::printf("%s: the layers answer differently, as the table allows: %s\n", c.id, c.results_differ);
    }
    if (c.disk_differs == nullptr) {
      EXPECT_EQ(posix_disk, windows_disk) << "files left, Windows under Wine:\n"
                                          << windows_disk << "POSIX layer:\n" << posix_disk;
    }
  }
  // Read-only files are made writable again, so that the workspace can go.
  for (const auto& entry : fs::recursive_directory_iterator(ws.root())) chmod(entry.path().c_str(), 0755);
}

}  // namespace
}  // namespace qmrtest
