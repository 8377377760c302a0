// Test support: real launcher sets made from a real stub, stamped as the packer stamps them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/set_builder.h"

namespace qmrtest {

// Copies `stub` to `launcher`, stamps its payload offset (its own size) and version, and
// appends volume 1. Throws on a stub that is not a launcher.
void WriteLauncherFile(const std::filesystem::path& stub, const std::filesystem::path& launcher,
                       const Bytes& volume1, const std::string& version = "1.13a");

}  // namespace qmrtest
