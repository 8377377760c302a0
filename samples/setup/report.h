// The sample setup program's report: what it finds in the setup information file beside it
// (the account presets, the list of files) and whether each of those files was handed over whole.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace sample {

// Reads a file in the program's own directory by name, given in the launcher's code page (as
// the information file holds it); nothing when it is missing.
using ReadBeside = std::function<std::optional<std::string>(const std::string& name)>;

// Turns text of the launcher's code page (code page 932 on Windows, UTF-8 on Linux: the
// information file's names and values) into UTF-8 for the report.
using ShowText = std::function<std::string(const std::string& text)>;

struct Report {
  std::string title;
  std::string text;  // UTF-8, lines ended by '\n'
  bool ok = false;   // the information file and every file it lists were found and expand whole
};

// Builds the report of a program started as `program` (UTF-8, shown as given) whose directory
// `read` reads. The information file's [Account] section holds the presets the launcher
// wrote; its [Files] section lists the set's other files as "shipped name=expanded name".
Report MakeReport(const std::string& program, const ReadBeside& read, const ShowText& show);

}  // namespace sample
