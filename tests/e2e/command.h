// Test support for the packer's end-to-end tests: a command run to its end with its standard
// input given and its standard output and error collected.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qmrtest {

struct CommandResult {
  int exit_code = -1;  // -1 when it was killed or ran past the time limit
  std::string out;
  std::string err;
};

// Runs argv[0] (a path) with `input` on standard input, in `directory` when given, with the
// environment of this process plus `environment`. Returns once the program has exited and
// every process holding its output pipes (a program it started) has closed them.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& input = "",
                         const std::map<std::string, std::string>& environment = {},
                         const std::filesystem::path& directory = {});

}  // namespace qmrtest
