// Volume file names, a volume mistaken for the launcher, and launchers of replaced sets.
#include "pack/set_files.h"

#include <algorithm>

#include "pack/files.h"
#include "pack/names.h"
#include "pack/paths.h"
#include "pack/stub.h"

namespace pack {

int VolumeNumberOf(const std::string& name) {
  // The launcher formats "Disk%d": no sign, no leading zero, at most 9999 volumes.
  if (name.size() < 5 || name.size() > 8 || name[4] == '0' || !SameFileName(name.substr(0, 4), "Disk", CodePage::kUtf8))
    return 0;
  int number = 0;
  for (std::size_t i = 4; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + (name[i] - '0');
  }
  return number >= 2 ? number : 0;
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
