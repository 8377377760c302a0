// The setup program of the set timed under Wine: records the moment it starts, as a
// QueryPerformanceCounter reading (the same clock in every process of a Wine session), in the
// file named by QMRBENCH_STAMP, then signals the event named by QMRBENCH_EVENT and exits.
#include <windows.h>

#include "bench/windows/clock.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  const LONGLONG now = qmrbench::Now();
  wchar_t path[MAX_PATH], event_name[128];
  if (GetEnvironmentVariableW(L"QMRBENCH_STAMP", path, MAX_PATH) == 0) return 2;
  if (GetEnvironmentVariableW(L"QMRBENCH_EVENT", event_name, 128) == 0) return 2;
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, &now, sizeof now, &written, nullptr);
  CloseHandle(file);
  if (!ok || written != sizeof now) return 1;
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, event_name);
  if (event == nullptr) return 1;
  SetEvent(event);
  CloseHandle(event);
  return 0;
}
