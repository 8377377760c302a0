// The sample setup program on Linux: prints its report to standard output.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "report.h"

int main() {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  const std::string program = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "";
  const std::string directory = program.substr(0, program.rfind('/') + 1);
  const sample::Report report = sample::MakeReport(program, [&](const std::string& name) -> std::optional<std::string> {
    std::ifstream in(directory + name, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }, [](const std::string& text) { return text; });  // the Linux launcher's code page is UTF-8
  // A blank line first: the launcher that started this program may still have its progress
  // bar as the terminal's current line.
  std::printf("\n== %s ==\n%s", report.title.c_str(), report.text.c_str());
  return report.ok ? 0 : 1;
}
