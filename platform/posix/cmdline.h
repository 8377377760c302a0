// POSIX layer, command lines: how a Windows command line names its program and arguments.
#pragma once

#include <string>
#include <vector>

namespace posix {

// One way to read a command line: the program token and the text of the arguments after it.
struct ProgramCandidate {
  std::string program;    // Windows path; ".exe" appended when its last component has no extension
  std::string arguments;  // the rest of the command line
};

// The programs a command line may name, in the order the process service tries them: a quoted
// first token is the program; an unquoted one that contains spaces is tried ending at each
// space in turn, the shortest first, and finally whole.
std::vector<ProgramCandidate> ProgramCandidates(const std::string& command_line);

// Splits arguments by the Windows rules: blanks separate arguments outside quotes; 2n
// backslashes before a quote give n backslashes and the quote opens or closes; 2n+1 give n
// and a literal quote; "" inside quotes is a literal quote; other backslashes are literal.
std::vector<std::string> SplitArguments(const std::string& arguments);

}  // namespace posix
