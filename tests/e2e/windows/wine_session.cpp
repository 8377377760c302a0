// Test support for the Wine tests: private Wine sessions, the programs run in them, the X
// server's view of their windows and the window probe's.
#include "wine_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "support/workspace.h"

extern char** environ;

namespace qmrtest {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::vector<char*> CStrings(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> EnvironmentStrings(const Environment& environment) {
  std::vector<std::string> strings;
  for (const auto& [name, value] : environment) strings.push_back(name + "=" + value);
  return strings;
}

Environment ProcessEnvironment() {
  Environment environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string variable = *e;
    const auto equals = variable.find('=');
    if (equals != std::string::npos) environment[variable.substr(0, equals)] = variable.substr(equals + 1);
  }
  return environment;
}

// In the child: its own process group (so a timeout ends everything it started), the
// directory, then the program. Never returns.
[[noreturn]] void ExecChild(std::vector<std::string> argv, const Environment& environment,
                            const std::filesystem::path& directory) {
  setpgid(0, 0);
  std::vector<std::string> env = EnvironmentStrings(environment);
  if (chdir(directory.c_str()) != 0) _exit(126);
  execvpe(argv[0].c_str(), CStrings(argv).data(), CStrings(env).data());
  _exit(127);
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// The pids of this process's children, from /proc.
std::vector<pid_t> ChildPids() {
  std::vector<pid_t> pids;
  const pid_t self = getpid();
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // pid (comm) state ppid ...: comm may hold spaces and parentheses; read after the last ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    char state = 0;
    pid_t ppid = 0;
    rest >> state >> ppid;
    if (ppid == self) pids.push_back(static_cast<pid_t>(std::stol(name)));
  }
  return pids;
}

void ReapExited() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    out += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
  }
  return out;
}

// Reads "key=value key=value ... text=rest of the line" into a map.
std::map<std::string, std::string> Fields(const std::string& line) {
  std::map<std::string, std::string> fields;
  std::size_t position = line.find(' ');
  while (position != std::string::npos && position + 1 < line.size()) {
    const std::size_t start = position + 1;
    const std::size_t equals = line.find('=', start);
    if (equals == std::string::npos) break;
    const std::string key = line.substr(start, equals - start);
    if (key == "text") {
      fields[key] = Unescape(line.substr(equals + 1));
      break;
    }
    position = line.find(' ', equals);
    fields[key] = line.substr(equals + 1, position == std::string::npos ? std::string::npos : position - equals - 1);
  }
  return fields;
}

Rect ParseRect(const std::string& text) {
  Rect rect;
  std::sscanf(text.c_str(), "%d,%d,%d,%d", &rect.left, &rect.top, &rect.right, &rect.bottom);
  return rect;
}

unsigned long long ParseNumber(const std::string& text) { return text.empty() ? 0 : std::stoull(text, nullptr, 0); }

std::vector<Window> ParseWindows(const std::string& output) {
  std::vector<Window> windows;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("window ", 0) == 0) {
      auto f = Fields(line);
      Window w;
      w.hwnd = ParseNumber(f["hwnd"]);
      w.x11 = static_cast<unsigned long>(ParseNumber(f["x11"]));
      w.class_name = f["class"];
      w.owner = ParseNumber(f["owner"]);
      w.style = static_cast<unsigned long>(ParseNumber(f["style"]));
      w.enabled = f["enabled"] == "1";
      w.rect = ParseRect(f["rect"]);
      std::sscanf(f["client"].c_str(), "%d,%d,%d,%d", &w.client_x, &w.client_y, &w.client_width, &w.client_height);
      w.text = f["text"];
      windows.push_back(w);
    } else if (line == "gone" && !windows.empty()) {
      windows.pop_back();  // closed while the probe read it: what was read may be half of it
    } else if (line.rfind("child ", 0) == 0 && !windows.empty()) {
      auto f = Fields(line);
      Control c;
      c.hwnd = ParseNumber(f["hwnd"]);
      c.id = static_cast<int>(std::stol(f["id"]));
      c.class_name = f["class"];
      c.style = static_cast<unsigned long>(ParseNumber(f["style"]));
      c.visible = f["visible"] == "1";
      c.rect = ParseRect(f["rect"]);
      c.text = f["text"];
      c.shows_icon = f["icon"] == "1";
      if (f.count("extent")) std::sscanf(f["extent"].c_str(), "%d,%d", &c.text_width, &c.text_height);
      if (f.count("position")) {
        c.position = static_cast<int>(std::stol(f["position"]));
        std::sscanf(f["range"].c_str(), "%d,%d", &c.range_low, &c.range_high);
      }
      windows.back().controls.push_back(c);
    }
  }
  return windows;
}

// UTF-8 to UTF-16LE bytes, for the registry file.
std::string Utf16Le(const std::string& utf8) {
  std::string out;
  auto put = [&out](unsigned unit) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  };
  for (std::size_t i = 0; i < utf8.size();) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    unsigned code = byte;
    int extra = 0;
    if (byte >= 0xF0) code = byte & 0x07, extra = 3;
    else if (byte >= 0xE0) code = byte & 0x0F, extra = 2;
    else if (byte >= 0xC0) code = byte & 0x1F, extra = 1;
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) code = code << 6 | (utf8[i + k] & 0x3F);
    i += 1 + extra;
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code);
    }
  }
  return out;
}

}  // namespace

const Control* Window::FindControl(int id) const {
  for (const Control& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

const Control* Window::FindClass(const std::string& name) const {
  for (const Control& c : controls)
    if (c.class_name == name) return &c;
  return nullptr;
}

std::string Window::MessageText() const {
  constexpr unsigned long kStaticTypeMask = 0x1F, kStaticIcon = 0x03;
  for (const Control& c : controls)
    if (c.class_name == "Static" && c.visible && (c.style & kStaticTypeMask) != kStaticIcon) return c.text;
  return {};
}

std::vector<int> Window::ButtonIds() const {
  std::vector<int> ids;
  for (const Control& c : controls)
    if (c.class_name == "Button" && c.visible) ids.push_back(c.id);
  std::sort(ids.begin(), ids.end());
  return ids;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, const Environment& environment,
                                     const std::filesystem::path& directory, const std::filesystem::path& log) {
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) throw std::runtime_error("cannot write " + log.string());
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out, 1);
    dup2(out, 2);
    ExecChild(argv, environment, directory);
  }
  close(out);
}

BackgroundProcess::~BackgroundProcess() { Kill(); }

bool BackgroundProcess::Running() {
  if (ended_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    ended_ = true;
    status_ = ExitCode(status);
  }
  return !ended_;
}

int BackgroundProcess::Wait(milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  while (Running()) {
    if (Clock::now() > end) return -1;
    std::this_thread::sleep_for(milliseconds(20));
  }
  return status_;
}

void BackgroundProcess::Kill() {
  if (ended_ || pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  ended_ = true;
}

CommandResult RunCommand(const std::vector<std::string>& argv, const Environment& environment,
                         const std::filesystem::path& directory, milliseconds timeout) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    ExecChild(argv, environment, directory);
  }
  close(out[1]);
  close(err[1]);
  CommandResult result;
  const auto end = Clock::now() + timeout;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open_count = 2;
  bool timed_out = false;
  while (open_count > 0) {
    const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
    if (left <= 0) {
      timed_out = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(std::min<long long>(left, 200))) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.output : result.errors).append(buffer, static_cast<std::size_t>(n));
      } else {
        // The program has closed it, or has ended; a daemon it started (wineserver) may hold
        // a copy open, so the end of the program also ends the reading.
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
    int status = 0;
    if (open_count > 0 && waitpid(pid, &status, WNOHANG) == pid) {
      // Drain what is already there, then stop reading.
      for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0) continue;
        char buffer[4096];
        ssize_t n;
        const int flags = fcntl(fds[i].fd, F_GETFL);
        fcntl(fds[i].fd, F_SETFL, flags | O_NONBLOCK);
        while ((n = read(fds[i].fd, buffer, sizeof buffer)) > 0)
          (i == 0 ? result.output : result.errors).append(buffer, static_cast<std::size_t>(n));
        close(fds[i].fd);
        fds[i].fd = -1;
      }
      result.status = ExitCode(status);
      if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
      return result;
    }
  }
  for (pollfd& fd : fds)
    if (fd.fd >= 0) close(fd.fd);
  if (timed_out) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = timed_out ? -1 : ExitCode(status);
  result.timed_out = timed_out;
  if (!timed_out && WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::string CommandResult::Describe() const {
  std::string how = timed_out         ? "killed at its time limit"
                    : signal != 0     ? "ended by signal " + std::to_string(signal)
                                      : "exit code " + std::to_string(status);
  return how + "; output: [" + output + "]; errors: [" + errors + "]";
}

std::filesystem::path MingwProgram(const std::string& relative) {
  const std::filesystem::path path = std::filesystem::path(QMR_MINGW_DIR) / relative;
  if (!std::filesystem::exists(path))
    throw std::runtime_error(path.string() +
                             " is missing: build the Windows programs first "
                             "(cmake --preset mingw && cmake --build --preset mingw; scripts/test does)");
  return path;
}

WineSession::WineSession(const std::string& name, const std::string& locale)
    : name_(name), locale_(locale), locale_dir_(std::filesystem::path(QMR_WINE_DIR) / "locale") {
  const std::filesystem::path wine_dir = QMR_WINE_DIR;
  // As scripts/lib/wine.sh names them: "prefix" for the Japanese locale, "prefix-en_US" for another.
  const std::string territory = locale.substr(0, locale.find('.'));
  const std::filesystem::path template_prefix = wine_dir / (territory == "ja_JP" ? "prefix" : "prefix-" + territory);
  if (!std::filesystem::exists(template_prefix / ".qmr-ready") || !std::filesystem::exists(locale_dir_))
    throw std::runtime_error("the Wine template prefix " + template_prefix.string() +
                             " is missing: run these tests through ctest (ctest -L wine), whose "
                             "wine_template_prefix test makes it");
  // Wine processes that outlive their parent (the wineserver, the setup program the launcher
  // starts) become this process's children, so the session can end them all.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  std::string pattern = (wine_dir / "run-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed in " + wine_dir.string());
  run_dir_ = pattern;
  try {
    // The prefix copy shares the template's files through hard links (Wine replaces files,
    // it does not write into them), except the registry, which the session changes.
    prefix_ = run_dir_ / "prefix";
    const CommandResult copy =
        RunCommand({"cp", "-a", "-l", template_prefix.string(), prefix_.string()}, ProcessEnvironment(), run_dir_);
    if (copy.status != 0) throw std::runtime_error("cannot copy the template prefix: " + copy.errors);
    for (const char* hive : {"system.reg", "user.reg", "userdef.reg"}) {
      std::filesystem::remove(prefix_ / hive);
      std::filesystem::copy_file(template_prefix / hive, prefix_ / hive);
    }
    // The wineserver keeps its socket directory under TMPDIR: the session's own, so it goes
    // with the session.
    std::filesystem::remove(prefix_ / "wineserver");
    std::filesystem::create_directory(run_dir_ / "t");

    // Xvfb picks a free display and writes its number to the descriptor given.
    int display_pipe[2];
    if (pipe(display_pipe) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      close(display_pipe[0]);
      dup2(display_pipe[1], 3);
      const int log = open((run_dir_ / "xvfb.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      dup2(log, 1);
      dup2(log, 2);
      ExecChild({"Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                ProcessEnvironment(), run_dir_);
    }
    close(display_pipe[1]);
    std::ofstream(run_dir_ / "xvfb.pid") << pid << "\n";
    std::string number;
    pollfd fd = {display_pipe[0], POLLIN, 0};
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (number.find('\n') == std::string::npos && Clock::now() < end) {
      if (poll(&fd, 1, 100) > 0) {
        char buffer[32];
        const ssize_t n = read(display_pipe[0], buffer, sizeof buffer);
        if (n <= 0) break;
        number.append(buffer, static_cast<std::size_t>(n));
      }
    }
    close(display_pipe[0]);
    if (number.find('\n') == std::string::npos) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      throw std::runtime_error("Xvfb did not start (see " + (run_dir_ / "xvfb.log").string() + ")");
    }
    display_ = ":" + number.substr(0, number.find('\n'));
    xvfb_pid_ = pid;

    std::filesystem::remove_all(std::filesystem::path(QMR_SCREENSHOT_DIR) / name_);
  } catch (...) {
    StopEverything();
    throw;
  }
}

WineSession::~WineSession() {
  // A destructor must not throw: a clean-up that fails leaves what the clean-up test removes.
  try {
    StopEverything();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wine session %s: clean-up failed: %s\n", name_.c_str(), e.what());
  }
}

void WineSession::StopEverything() {
  if (!prefix_.empty() && std::filesystem::exists(prefix_))
    RunCommand({"wineserver", "-k"}, WineEnvironment({}), run_dir_, std::chrono::seconds(30));
  if (xvfb_pid_ > 0) {
    kill(xvfb_pid_, SIGTERM);
    waitpid(xvfb_pid_, nullptr, 0);
    xvfb_pid_ = -1;
  }
  // Whatever is left (Wine processes end soon after the server) is waited for, then killed.
  const auto end = Clock::now() + std::chrono::seconds(10);
  for (;;) {
    ReapExited();
    const std::vector<pid_t> children = ChildPids();
    if (children.empty()) break;
    if (Clock::now() > end) {
      for (const pid_t child : children) kill(child, SIGKILL);
      for (const pid_t child : children) waitpid(child, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(milliseconds(50));
  }
  if (!run_dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(run_dir_, ignored);
  }
}

Environment WineSession::XEnvironment() const {
  Environment environment = ProcessEnvironment();
  environment.erase("LANGUAGE");
  environment["LOCPATH"] = locale_dir_.string();
  environment["LANG"] = locale_;
  environment["LC_ALL"] = locale_;
  environment["DISPLAY"] = display_;
  return environment;
}

Environment WineSession::WineEnvironment(const Environment& extra) const {
  Environment environment = XEnvironment();
  environment["WINEPREFIX"] = prefix_.string();
  environment["WINEARCH"] = "win64";
  environment["WINEDEBUG"] = "-all";
  environment["WINEDLLOVERRIDES"] = "mscoree,mshtml=";
  environment["TMPDIR"] = (run_dir_ / "t").string();
  environment.erase("WINESERVER");
  for (const auto& [name, value] : extra) environment[name] = value;
  return environment;
}

void WineSession::SetTemporaryDirectory(const std::string& windows_path) {
  std::string value;
  for (const char c : windows_path) value += c == '\\' ? std::string("\\\\") : std::string(1, c);
  ImportRegistry("[HKEY_CURRENT_USER\\Environment]\r\n\"TEMP\"=\"" + value + "\"\r\n\"TMP\"=\"" + value + "\"\r\n");
}

void WineSession::SetLogPixels(int dpi) {
  char value[16];
  std::snprintf(value, sizeof value, "dword:%08x", static_cast<unsigned>(dpi));
  // Wine reads the user's setting, and the machine's where the user has none.
  ImportRegistry("[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n\"LogPixels\"=" + std::string(value) +
                 "\r\n\r\n[HKEY_CURRENT_CONFIG\\Software\\Fonts]\r\n\"LogPixels\"=" + value + "\r\n");
}

// Imports registry keys (the lines of a .reg file after its header) into the session's prefix.
void WineSession::ImportRegistry(const std::string& keys) {
  const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n" + keys + "\r\n";
  const std::filesystem::path file = run_dir_ / "settings.reg";
  std::ofstream(file, std::ios::binary) << "\xFF\xFE" << Utf16Le(text);
  const CommandResult result = RunCommand({"wine", "reg", "import", WindowsPath(file)}, WineEnvironment({}), run_dir_);
  if (result.status != 0) throw std::runtime_error("reg import failed: " + result.output + result.errors);
}

std::unique_ptr<BackgroundProcess> WineSession::Start(const std::filesystem::path& program,
                                                      const std::filesystem::path& directory,
                                                      const Environment& extra,
                                                      const std::vector<std::string>& arguments) {
  // The X server gives the ids of a program that has ended to the windows of the next: a
  // window no wait can see any more is forgotten, so that its id counts as new again.
  std::set<unsigned long> shown;
  std::istringstream ids(Xdotool({"search", "--onlyvisible", "--name", "."}).output);
  for (unsigned long id = 0; ids >> id;)
    if (seen_windows_.count(id) != 0) shown.insert(id);
  seen_windows_ = shown;
  const std::filesystem::path log = run_dir_ / "wine.log";
  std::vector<std::string> argv = {"wine", program.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return std::make_unique<BackgroundProcess>(argv, WineEnvironment(extra), directory, log);
}

CommandResult WineSession::Run(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                               const std::filesystem::path& directory, const Environment& extra) {
  std::vector<std::string> argv = {"wine", program.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunCommand(argv, WineEnvironment(extra), directory, std::chrono::seconds(120));
}

CommandResult WineSession::Run(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                               std::chrono::milliseconds timeout) {
  std::vector<std::string> argv = {"wine", program.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunCommand(argv, WineEnvironment({}), run_dir_, timeout);
}

std::vector<Window> WineSession::ReadWindows() {
  // The probe's "windows" always exits 0, and a crash of it says so on its error output: a
  // failure with nothing printed is Wine failing to start it on a loaded machine, tried again.
  CommandResult result;
  for (int attempt = 0; attempt < 3; ++attempt) {
    result = RunCommand({"wine", MingwProgram("tests/e2e/windows/qmrprobe.exe").string(), "windows"},
                        WineEnvironment({}), run_dir_);
    if (result.status == 0 || result.timed_out || !result.output.empty() || !result.errors.empty()) break;
  }
  if (result.status != 0) throw std::runtime_error("the window probe failed: " + result.Describe());
  return ParseWindows(result.output);
}

std::string WineSession::ShortPath(const std::filesystem::path& path) {
  const CommandResult result = RunCommand(
      {"wine", MingwProgram("tests/e2e/windows/qmrprobe.exe").string(), "shortpath", WindowsPath(path)},
      WineEnvironment({}), run_dir_);
  if (result.status != 0 || result.output.rfind("short ", 0) != 0)
    throw std::runtime_error("the window probe could not shorten " + path.string() + ": " + result.output + result.errors);
  std::string text = result.output.substr(6);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return Unescape(text);
}

std::pair<int, int> WineSession::DialogUnits(const std::string& face, int points) {
  const CommandResult result = RunCommand(
      {"wine", MingwProgram("tests/e2e/windows/qmrprobe.exe").string(), "units", face, std::to_string(points)},
      WineEnvironment({}), run_dir_);
  int x = 0, y = 0;
  if (result.status != 0 || std::sscanf(result.output.c_str(), "units %d %d", &x, &y) != 2)
    throw std::runtime_error("the window probe could not measure " + face + ": " + result.output + result.errors);
  return {x, y};
}

CommandResult WineSession::Xdotool(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {"xdotool"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunCommand(argv, XEnvironment(), run_dir_, std::chrono::seconds(20));
}

namespace {

// The regular expression xdotool matches a window name against that takes `caption` as it is:
// "Quillmoor セットアップ (サンプル)" holds parentheses.
std::string CaptionPattern(const std::string& caption) {
  std::string pattern = "^";
  for (char c : caption) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

}  // namespace

Window WineSession::WaitForWindow(const std::string& caption, bool (*accept)(const Window&),
                                  milliseconds timeout) {
  const auto end = Clock::now() + timeout;
  for (;;) {
    // Found through the X server by its caption, as a person finds it on the screen...
    const CommandResult found = Xdotool({"search", "--onlyvisible", "--name", CaptionPattern(caption)});
    std::set<unsigned long> fresh;
    std::istringstream ids(found.output);
    unsigned long id = 0;
    while (ids >> id)
      if (seen_windows_.count(id) == 0) fresh.insert(id);
    // ...then read as an inspection tool reads it.
    if (!fresh.empty()) {
      for (const Window& window : ReadWindows()) {
        if (fresh.count(window.x11) == 0 || window.text != caption || !accept(window)) continue;
        seen_windows_.insert(window.x11);
        return window;
      }
    }
    if (Clock::now() > end) throw std::runtime_error("no new window \"" + caption + "\" appeared");
    std::this_thread::sleep_for(milliseconds(100));
  }
}

std::vector<Window> WineSession::NewWindows(const std::string& caption) {
  std::istringstream ids(Xdotool({"search", "--onlyvisible", "--name", CaptionPattern(caption)}).output);
  std::set<unsigned long> fresh;
  unsigned long id = 0;
  while (ids >> id)
    if (seen_windows_.count(id) == 0) fresh.insert(id);
  std::vector<Window> windows;
  if (fresh.empty()) return windows;
  for (const Window& window : ReadWindows())
    if (fresh.count(window.x11) != 0 && window.text == caption) windows.push_back(window);
  return windows;
}

bool WineSession::XWindowShown(unsigned long x11) {
  const CommandResult result = Xdotool({"getwindowgeometry", std::to_string(x11)});
  if (result.status != 0) return false;
  // A window that still exists may be unmapped: only a visible one counts.
  const CommandResult visible = Xdotool({"search", "--onlyvisible", "--name", "."});
  std::istringstream ids(visible.output);
  unsigned long id = 0;
  while (ids >> id)
    if (id == x11) return true;
  return false;
}

XGeometry WineSession::GetXGeometry(unsigned long x11) {
  const CommandResult result = Xdotool({"getwindowgeometry", "--shell", std::to_string(x11)});
  if (result.status != 0) throw std::runtime_error("xdotool getwindowgeometry failed: " + result.errors);
  XGeometry g;
  std::istringstream lines(result.output);
  std::string line;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const int value = std::atoi(line.c_str() + equals + 1);
    if (key == "X") g.x = value;
    if (key == "Y") g.y = value;
    if (key == "WIDTH") g.width = value;
    if (key == "HEIGHT") g.height = value;
  }
  return g;
}

std::string WineSession::XWindowName(unsigned long x11) {
  std::string name = Xdotool({"getwindowname", std::to_string(x11)}).output;
  while (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}

void WineSession::Focus(unsigned long x11) {
  // Without a window manager nothing moves the focus: the person's click on the window does.
  const CommandResult focus = Xdotool({"windowfocus", "--sync", std::to_string(x11)});
  if (focus.status != 0) throw std::runtime_error("xdotool windowfocus failed: " + focus.errors);
}

void WineSession::PressKeys(unsigned long x11, const std::vector<std::string>& keys) {
  Focus(x11);
  std::vector<std::string> arguments = {"key", "--delay", "100"};
  arguments.insert(arguments.end(), keys.begin(), keys.end());
  const CommandResult pressed = Xdotool(arguments);
  if (pressed.status != 0) throw std::runtime_error("xdotool key failed: " + pressed.errors);
}

std::filesystem::path WineSession::Screenshot(const std::string& label) {
  const std::filesystem::path dir = std::filesystem::path(QMR_SCREENSHOT_DIR) / name_;
  std::filesystem::create_directories(dir);
  char number[16];
  std::snprintf(number, sizeof number, "%02d-", ++screenshots_);
  const std::filesystem::path file = dir / (number + label + ".png");
  const CommandResult result =
      RunCommand({"/usr/bin/import", "-display", display_, "-window", "root", file.string()}, XEnvironment(), run_dir_);
  if (result.status != 0) throw std::runtime_error("import failed: " + result.errors);
  return file;
}

std::vector<int> WineSession::AverageColour(const std::filesystem::path& screenshot, const Rect& area) {
  const std::string crop = std::to_string(area.width()) + "x" + std::to_string(area.height()) + "+" +
                           std::to_string(area.left) + "+" + std::to_string(area.top);
  // /usr/bin/convert by its full path: ImageMagick's, whatever else is on the PATH.
  const CommandResult result =
      RunCommand({"/usr/bin/convert", screenshot.string(), "-crop", crop, "+repage", "-scale", "1x1!", "-format",
                  "%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]", "info:"},
                 XEnvironment(), run_dir_);
  std::vector<int> colour(3, -1);
  if (result.status != 0 ||
      std::sscanf(result.output.c_str(), "%d %d %d", &colour[0], &colour[1], &colour[2]) != 3)
    throw std::runtime_error("convert failed: " + result.errors);
  return colour;
}

}  // namespace qmrtest
