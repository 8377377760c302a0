// Test support for the Wine tests: one private Wine session per test (its own copy of the
// template prefix, its own headless X display), the Windows programs run in it, the windows
// found and answered through the X server, and read as an inspection tool reads them.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace qmrtest {

using Environment = std::map<std::string, std::string>;

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
};

// A control of a window, as the window probe reads it; its rectangle is in the parent's
// client coordinates.
struct Control {
  unsigned long long hwnd = 0;
  int id = 0;
  std::string class_name;
  unsigned long style = 0;
  bool visible = false;
  Rect rect;
  std::string text;
  bool shows_icon = false;       // a static icon control with an icon set
  int text_width = -1, text_height = -1;  // a static text's extent, wrapped at its width, in its font
  int position = -1;             // a progress bar's position, and its range
  int range_low = 0, range_high = 0;
};

// A top-level window as the window probe reads it, with the X window Wine shows it in.
struct Window {
  unsigned long long hwnd = 0;
  unsigned long x11 = 0;
  std::string class_name;
  unsigned long long owner = 0;
  unsigned long style = 0;
  bool enabled = false;
  Rect rect;                     // the window rectangle, frame and caption included
  int client_x = 0, client_y = 0, client_width = 0, client_height = 0;
  std::string text;              // the caption
  std::vector<Control> controls;

  const Control* FindControl(int id) const;
  const Control* FindClass(const std::string& class_name) const;
  bool IsMessageBox() const { return class_name == "#32770" && FindClass("Button") != nullptr; }
  bool IsProgressDialog() const { return FindClass("msctls_progress32") != nullptr; }
  // The text of a message box: its static text control's.
  std::string MessageText() const;
  // The ids of its visible buttons, in id order.
  std::vector<int> ButtonIds() const;
};

// Where the X server shows a window.
struct XGeometry {
  int x = 0, y = 0, width = 0, height = 0;
};

struct CommandResult {
  int status = -1;               // exit code, or -1 when killed or timed out
  std::string output;            // standard output
  std::string errors;            // standard error
  int signal = 0;                // the signal that ended it, if one did
  bool timed_out = false;        // killed at its time limit

  // How it ended and what it wrote, for a failure message.
  std::string Describe() const;
};

// A program running in the background, its output going to a log file.
class BackgroundProcess {
 public:
  BackgroundProcess(const std::vector<std::string>& argv, const Environment& environment,
                    const std::filesystem::path& directory, const std::filesystem::path& log);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // Waits for the process to end; returns its exit code, or -1 when it was killed or is
  // still running after `timeout`.
  int Wait(std::chrono::milliseconds timeout);
  void Kill();

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = -1;
};

// Runs a program to its end with its output captured; kills it after `timeout`.
CommandResult RunCommand(const std::vector<std::string>& argv, const Environment& environment,
                         const std::filesystem::path& directory,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

class WineSession {
 public:
  // Copies the template prefix of `locale` (ja_JP.UTF-8, code page 932, or en_US.UTF-8, code
  // page 1252), starts a display. Throws with the reason when the template, the MinGW programs
  // or Xvfb are missing.
  explicit WineSession(const std::string& name, const std::string& locale = "ja_JP.UTF-8");
  // Ends every process of the prefix and the display, and removes the prefix copy.
  ~WineSession();
  WineSession(const WineSession&) = delete;
  WineSession& operator=(const WineSession&) = delete;

  // The temporary directory of the prefix's user (TMP and TEMP in its environment key), as
  // a Windows path.
  void SetTemporaryDirectory(const std::string& windows_path);
  // The screen's resolution for the programs started from now on (96 is 100 %, 144 is 150 %).
  void SetLogPixels(int dpi);
  // The short form of a path (GetShortPathNameW), as Windows programs may be given it.
  std::string ShortPath(const std::filesystem::path& path);

  // Starts a Windows program under Wine with the session's environment plus `extra`. Windows
  // that waits returned and that are no longer shown count as new again from here.
  std::unique_ptr<BackgroundProcess> Start(const std::filesystem::path& program,
                                           const std::filesystem::path& directory, const Environment& extra = {},
                                           const std::vector<std::string>& arguments = {});

  // Runs a Windows console program under Wine to its end, with its output captured, in
  // `directory`, with the session's environment plus `extra`.
  CommandResult Run(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                    const std::filesystem::path& directory, const Environment& extra = {});

  // Runs a Windows console program under Wine to its end, its output captured.
  CommandResult Run(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                    std::chrono::milliseconds timeout = std::chrono::seconds(120));

  // The visible top-level windows with a title, topmost first, as the window probe reads them.
  std::vector<Window> ReadWindows();
  // The dialog base units of a template font on this session's screen.
  std::pair<int, int> DialogUnits(const std::string& face, int points);

  // Waits for a visible window with this exact caption that the X server shows and that no
  // earlier wait returned, and that `accept` takes; returns it. Throws after `timeout`.
  Window WaitForWindow(const std::string& caption, bool (*accept)(const Window&),
                       std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // The windows with this caption that the X server shows and no wait has returned yet.
  std::vector<Window> NewWindows(const std::string& caption);
  // True while the X server shows a window with this id.
  bool XWindowShown(unsigned long x11);
  XGeometry GetXGeometry(unsigned long x11);
  std::string XWindowName(unsigned long x11);
  // Gives the window the keyboard focus, then presses the keys (xdotool names), as a person would.
  void PressKeys(unsigned long x11, const std::vector<std::string>& keys);
  // Saves a screenshot of the whole screen to <screenshot dir>/<session name>/<label>.png.
  std::filesystem::path Screenshot(const std::string& label);
  // The average colour (0..255 each) of a screen area in a screenshot.
  std::vector<int> AverageColour(const std::filesystem::path& screenshot, const Rect& area);

  int screen_width() const { return 1024; }
  int screen_height() const { return 768; }
  const std::filesystem::path& prefix() const { return prefix_; }

 private:
  Environment WineEnvironment(const Environment& extra) const;
  void ImportRegistry(const std::string& text);
  Environment XEnvironment() const;
  CommandResult Xdotool(const std::vector<std::string>& arguments);
  void Focus(unsigned long x11);
  void StopEverything();

  std::string name_, locale_;
  std::filesystem::path run_dir_, prefix_, locale_dir_;
  std::string display_;
  pid_t xvfb_pid_ = -1;
  std::set<unsigned long> seen_windows_;
  int screenshots_ = 0;
};

// Where the MinGW build put a program, relative to its build tree ("qmrsfx.exe", ...).
std::filesystem::path MingwProgram(const std::string& relative);

}  // namespace qmrtest
