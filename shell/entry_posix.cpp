// The Linux launcher's entry: calls WinMain as the Windows run-time start-up does. The exit
// code is 0 whatever happens.
#include <csignal>

#include "shell/shell.h"

int main() {
  // A terminal that goes away while the launcher writes to it must not end the run midway.
  (void)std::signal(SIGPIPE, SIG_IGN);
  static char command_line[] = "";
  WinMain(reinterpret_cast<HINSTANCE>(1), nullptr, command_line, 1);
  return 0;
}
