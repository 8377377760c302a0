// Test support: launcher sets stamped with the packer's own stamping.
#include "support/launcher_set.h"

#include <sys/stat.h>

#include <stdexcept>

#include "pack/stub.h"

namespace qmrtest {

void WriteLauncherFile(const std::filesystem::path& stub, const std::filesystem::path& launcher,
                       const Bytes& volume1, const std::string& version) {
  Bytes file = ReadBytes(stub);
  std::string error;
  if (!pack::StampStub(&file, static_cast<std::uint32_t>(file.size()), version, &error))
    throw std::runtime_error(stub.string() + ": " + error);
  file.insert(file.end(), volume1.begin(), volume1.end());
  WriteBytes(launcher, file);
  chmod(launcher.c_str(), 0755);
}

}  // namespace qmrtest
