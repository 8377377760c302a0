// The process-wide accessor of the system-operation table.
#include "platform/system.h"

namespace {
const SystemOps* g_installed = nullptr;
}  // namespace

const SystemOps& Sys() { return g_installed != nullptr ? *g_installed : NativeSystem(); }

void InstallSystem(const SystemOps* ops) { g_installed = ops; }
