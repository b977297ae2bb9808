#include "win32/DesktopCheck.h"

#include <windows.h>

bool DesktopIsVisible() {
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr) return true;
  USEROBJECTFLAGS flags{};
  DWORD needed = 0;
  if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}
