// The clock the Windows benchmark programs time with: QueryPerformanceCounter, one clock for
// every process of a Wine session.
#pragma once

#include "platform/winapi.h"

namespace qmrbench {

// The counter's reading now.
inline LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// The seconds from one reading to another.
inline double Seconds(LONGLONG from, LONGLONG to) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to - from) / static_cast<double>(frequency.QuadPart);
}

}  // namespace qmrbench
