// Holds a file for a while: by default open sharing nothing but reading, so it can be neither
// written, renamed nor replaced; with --load loaded as a DLL, as an IIS worker process keeps a
// native DLL loaded after its site stopped (then it can be renamed, not replaced).
//   holdfile.exe PATH MILLISECONDS [--load]
// Prints "HELD" once it holds the file, then "RELEASED" when it lets go; exits 1 when the file
// cannot be opened or loaded.
#include <windows.h>

#include <cstdio>
#include <string>

#include "win32/ScopedHandle.h"

namespace {
int HoldFor(bool held, const wchar_t* milliseconds) {
  if (!held) {
    std::printf("FAILED %lu\n", GetLastError());
    return 1;
  }
  std::printf("HELD\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(_wtoi(milliseconds)));
  return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && !(argc == 4 && std::wstring(argv[3]) == L"--load")) {
    std::fprintf(stderr, "usage: holdfile.exe PATH MILLISECONDS [--load]\n");
    return 2;
  }
  int result = 0;
  if (argc == 4) {
    HMODULE module = LoadLibraryW(argv[1]);
    result = HoldFor(module != nullptr, argv[2]);
    if (module) FreeLibrary(module);
  } else {
    UniqueFile file(
        CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    result = HoldFor(file.IsValid(), argv[2]);
  }
  if (result == 0) std::printf("RELEASED\n");
  return result;
}
