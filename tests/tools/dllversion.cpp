// Prints the product version of each DLL named on the command line, as the service reads it.
//   dllversion.exe PATH...      one line per file: "<product version> <path>", "-" when unreadable
#include <cstdio>
#include <string>

#include "win32/Win32VersionReader.h"

int wmain(int argc, wchar_t** argv) {
  Win32VersionReader reader;
  for (int i = 1; i < argc; ++i) {
    auto version = reader.ReadProductVersion(argv[i]);
    if (version) {
      std::printf("%u.%u.%u.%u  %ls\n", version->ms >> 16, version->ms & 0xFFFF, version->ls >> 16,
                  version->ls & 0xFFFF, argv[i]);
    } else {
      std::printf("-  %ls\n", argv[i]);
    }
  }
  return 0;
}
