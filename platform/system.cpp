// The process-wide accessor of the system-operation table.
#include "platform/system.h"

#include <cstring>

namespace {
const SystemOps* g_installed = nullptr;
}  // namespace

const SystemOps& Sys() { return g_installed != nullptr ? *g_installed : NativeSystem(); }

void InstallSystem(const SystemOps* ops) { g_installed = ops; }

int FirstUnfilledOperation(const SystemOps& ops) {
  // SystemOps holds function pointers and nothing else, so it is walked as an array of them.
  using Member = void (*)();
  static_assert(sizeof(SystemOps) % sizeof(Member) == 0, "SystemOps holds function pointers only");
  const auto* bytes = reinterpret_cast<const unsigned char*>(&ops);
  for (std::size_t i = 0; i < sizeof(SystemOps) / sizeof(Member); ++i) {
    Member member;
    std::memcpy(&member, bytes + i * sizeof member, sizeof member);
    if (member == nullptr) return static_cast<int>(i);
  }
  return -1;
}
