// Holds a file open for a while as a running IIS worker holds its DLL: readable by others, but
// not to be written, renamed or replaced.
//   holdfile.exe PATH MILLISECONDS
// Prints "HELD" once the file is open, then "RELEASED" when it lets go; exits 1 when the file
// cannot be opened.
#include <windows.h>

#include <cstdio>

#include "win32/ScopedHandle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: holdfile.exe PATH MILLISECONDS\n");
    return 2;
  }
  // Others may read it (its version, a copy) but neither write, rename nor replace it.
  UniqueFile file(
      CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) {
    std::printf("FAILED %lu\n", GetLastError());
    return 1;
  }
  std::printf("HELD\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(_wtoi(argv[2])));
  file.Reset();
  std::printf("RELEASED\n");
  return 0;
}
