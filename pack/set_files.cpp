// Volume file names, a volume mistaken for the launcher, and launchers of replaced sets.
#include "pack/set_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "format/layout.h"
#include "pack/files.h"
#include "pack/names.h"
#include "pack/paths.h"
#include "pack/stub.h"

namespace pack {

std::string VolumeFileName(int number) {
  char name[16];
  std::snprintf(name, sizeof name, payload::kVolumeNameFormat, number);
  return name;
}

int VolumeNumberOf(const std::string& name) {
  // The launcher's own name of that volume, with no sign and no leading zero; at most 9999.
  const std::size_t digits = name.find_first_of("0123456789");
  if (digits == std::string::npos || name.size() - digits > 4) return 0;
  const int number = static_cast<int>(std::strtol(name.c_str() + digits, nullptr, 10));
  return number >= 2 && SameFileName(name, VolumeFileName(number), CodePage::kUtf8) ? number : 0;
}

bool IsSetupFileName(const std::string& name, CodePage code_page, bool expanded) {
  return SameFileName(name, expanded ? payload::kSetupInfoExpanded : payload::kSetupInfoCompressed, code_page) ||
         SameFileName(name, expanded ? payload::kSetupProgramExpanded : payload::kSetupProgramCompressed, code_page);
}

std::string NotALauncherProblem(const std::filesystem::path& path, const std::string& reason) {
  const int volume = VolumeNumberOf(PathText(path.filename()));
  if (volume == 0) return PathText(path) + ": " + reason;
  return PathText(path) + ": this is volume " + std::to_string(volume) +
         " of a set, not its launcher; give the launcher, the program beside it that carries volume 1";
}

std::vector<std::filesystem::path> OtherLaunchers(const std::filesystem::path& directory,
                                                  const std::string& launcher_name) {
  namespace fs = std::filesystem;
  std::vector<fs::path> found;
  std::error_code ec;
  for (const fs::directory_entry& item : fs::directory_iterator(directory, ec)) {
    const std::string name = PathText(item.path().filename());
    if (name == launcher_name || VolumeNumberOf(name) != 0 || !item.is_regular_file(ec)) continue;
    try {
      const Bytes bytes = ReadWholeFile(item.path());
      StubInfo info;
      std::string error;
      if (InspectStub(bytes, &info, &error) && info.payload_offset == info.image_size && bytes.size() > info.image_size)
        found.push_back(item.path());
    } catch (const PackError&) {
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace pack
