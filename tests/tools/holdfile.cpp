// Holds a file for a while: by default open with no sharing but reading, so it can be neither
// written, renamed nor replaced; with --load loaded as a DLL, as an IIS worker process keeps a
// native DLL loaded after its site stopped (then it can be renamed, not replaced).
//   holdfile.exe PATH MILLISECONDS [--load]
// Prints "HELD" once it holds the file, then "RELEASED" when it lets go; exits 1 when the file
// cannot be opened or loaded.
#include <windows.h>

#include <cstdio>
#include <string>

#include "win32/ScopedHandle.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && !(argc == 4 && std::wstring(argv[3]) == L"--load")) {
    std::fprintf(stderr, "usage: holdfile.exe PATH MILLISECONDS [--load]\n");
    return 2;
  }
  if (argc == 4) {
    HMODULE module = LoadLibraryW(argv[1]);
    if (!module) {
      std::printf("FAILED %lu\n", GetLastError());
      return 1;
    }
    std::printf("HELD\n");
    std::fflush(stdout);
    Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    FreeLibrary(module);
    std::printf("RELEASED\n");
    return 0;
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
