// Prints the product version of each DLL named on the command line, as the service reads it.
//   dllversion.exe PATH...      one line per file: "<product version> <path>", "-" when unreadable
#include <cstdio>
#include <string>

#include "core/VersionCompare.h"
#include "win32/Win32VersionReader.h"

int wmain(int argc, wchar_t** argv) {
  Win32VersionReader reader;
  for (int i = 1; i < argc; ++i) {
    auto version = reader.ReadProductVersion(argv[i]);
    const std::wstring text = version ? FormatProductVersion(version->ms, version->ls) : L"-";
    std::printf("%ls  %ls\n", text.c_str(), argv[i]);
  }
  return 0;
}
