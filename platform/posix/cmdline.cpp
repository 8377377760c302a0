// POSIX layer, command lines: the program candidates and the argument rules of Windows.
#include "platform/posix/cmdline.h"

#include <algorithm>

namespace posix {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string WithExecutableExtension(std::string program) {
  const std::size_t separator = program.find_last_of("\\/:");
  const std::size_t start = separator == std::string::npos ? 0 : separator + 1;
  if (program.find('.', start) == std::string::npos) program += ".exe";
  return program;
}

std::string SkipBlanks(const std::string& text, std::size_t from) {
  while (from < text.size() && IsBlank(text[from])) ++from;
  return text.substr(from);
}

}  // namespace

std::vector<ProgramCandidate> ProgramCandidates(const std::string& command_line) {
  const std::string line = SkipBlanks(command_line, 0);
  if (!line.empty() && line[0] == '"') {
    // Up to the closing quote, or to the end when there is none.
    const std::size_t close = std::min(line.find('"', 1), line.size());
    return {{WithExecutableExtension(line.substr(1, close - 1)), SkipBlanks(line, std::min(close + 1, line.size()))}};
  }
  // Unquoted: the token may end at any blank; the process service tries them in order.
  std::vector<ProgramCandidate> candidates;
  for (std::size_t i = 1; i <= line.size(); ++i) {
    if ((i == line.size() || IsBlank(line[i])) && !IsBlank(line[i - 1]))
      candidates.push_back({WithExecutableExtension(line.substr(0, i)), SkipBlanks(line, i)});
  }
  return candidates;
}

std::vector<std::string> SplitArguments(const std::string& arguments) {
  std::vector<std::string> out;
  std::size_t i = 0;
  const std::size_t n = arguments.size();
  for (;;) {
    while (i < n && IsBlank(arguments[i])) ++i;
    if (i >= n) break;
    std::string current;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(arguments[i]))) {
      if (arguments[i] == '\\') {
        std::size_t slashes = 0;
        while (i < n && arguments[i] == '\\') ++slashes, ++i;
        if (i < n && arguments[i] == '"') {
          current.append(slashes / 2, '\\');
          if (slashes % 2 == 1) {
            current += '"';
            ++i;
          }
        } else {
          current.append(slashes, '\\');
        }
      } else if (arguments[i] == '"') {
        if (quoted && i + 1 < n && arguments[i + 1] == '"') {
          current += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        current += arguments[i++];
      }
    }
    out.push_back(current);
  }
  return out;
}

}  // namespace posix
