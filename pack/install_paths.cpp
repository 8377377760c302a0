// UTF-8 paths and the installed launcher stub (the installation's layout, shared by the .deb
// and the Windows zip).
#include <cstdio>

#include "pack/names.h"
#include "pack/paths.h"

namespace pack {

namespace fs = std::filesystem;

fs::path PathFromUtf8(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string PathText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path InstalledStubFor(const fs::path& program, bool windows_layout) {
  const fs::path directory = program.parent_path();
  if (windows_layout) return directory / "qmrsfx.exe";
  return directory.parent_path() / "share" / "qmrpack" / "qmrsfx.exe";
}

fs::path StubOption(const std::optional<std::string>& given) {
  if (given) return PathFromUtf8(*given);
  fs::path stub = InstalledStub();
  std::error_code ec;
  if (!fs::is_regular_file(stub, ec))
    throw PackError("build: no --stub given, and no installed launcher stub at " + PathText(stub));
  return stub;
}

}  // namespace pack
