// Holds the update cycles' lock for a while, as the service does during a long cycle.
//   holdcyclelock.exe MILLISECONDS DOWNLOADFOLDER [--abandon]
// Prints "HELD" once it holds the lock, then "RELEASED" when it lets go; with --abandon it ends
// without releasing it, as a process that was killed.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "win32/Win32CycleLock.h"
#include "win32/Win32FileSystem.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: holdcyclelock.exe MILLISECONDS DOWNLOADFOLDER [--abandon]\n");
    return 2;
  }
  const bool abandon = argc > 3 && std::wcscmp(argv[3], L"--abandon") == 0;
  Win32FileSystem files;
  Win32CycleLock lock(files);
  lock.Claim(argv[2]);
  if (!lock.TryAcquire(10000)) {
    std::printf("BUSY\n");
    return 1;
  }
  std::printf("HELD\n");
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(_wtoi(argv[1])));
  if (abandon) ExitProcess(0);
  lock.Release();
  std::printf("RELEASED\n");
  return 0;
}
