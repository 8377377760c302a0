// The Windows launcher's process entry, its own minimal start-up. It prepares nothing
// that the launcher does not use (no C run-time initialisation, no argument parsing), calls
// WinMain and ends the process with its result, which is always 0.
#include "platform/winapi.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

extern "C" void WINAPI QmrEntry() {
  ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_SHOWDEFAULT)));
}
