// Paths as qmrpack takes and shows them: UTF-8 text on every system (the Windows entry point
// converts its wide command line), wide paths underneath on Windows; and the launcher stub an
// installed qmrpack finds beside itself.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace pack {

// The path named by UTF-8 text. On Windows every character is kept, whatever the system's
// code page; on Linux the bytes are the path.
std::filesystem::path PathFromUtf8(const std::string& utf8);

// A path as UTF-8 text, for messages and listings.
std::string PathText(const std::filesystem::path& path);

// The absolute path as the launcher's core names it: "Z:\\a\\b" for "/a/b" on Linux (as the POSIX
// layer maps it), the path in the system's ANSI code page on Windows. Throws PackError when
// that form cannot name the file faithfully (a backslash in a Linux name, a character the
// code page lacks).
std::string WindowsForm(const std::filesystem::path& path);

// The full path of the running program. Throws PackError when the system cannot tell it.
std::filesystem::path ExecutablePath();

// Where an installed qmrpack keeps the Windows launcher stub, given the program's own path:
// beside qmrpack.exe on Windows; <prefix>/share/qmrpack/qmrsfx.exe for <prefix>/bin/qmrpack.
std::filesystem::path InstalledStubFor(const std::filesystem::path& program, bool windows_layout);
// InstalledStubFor the running program, in this system's layout. Throws PackError.
std::filesystem::path InstalledStub();

// The stub `build` uses: --stub's path when given; else the installed Windows stub. Throws
// PackError when that stub is not there.
std::filesystem::path StubOption(const std::optional<std::string>& given);

}  // namespace pack
