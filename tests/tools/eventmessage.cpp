// Reads message 0 of a program's message table as Event Viewer does for an entry with event ID 0
// and one insertion string.
//   eventmessage.exe PROGRAM TEXT
// Prints the formatted message as UTF-8; exits 1 with "FAILED <code>" when there is none.
#include <windows.h>

#include <cstdio>

#include "Utf8Output.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: eventmessage.exe PROGRAM TEXT\n");
    return 2;
  }
  HMODULE module = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::printf("FAILED %lu\n", GetLastError());
    return 1;
  }
  DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(argv[2])};
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      module, 0, 0, reinterpret_cast<wchar_t*>(&text), 0, reinterpret_cast<va_list*>(arguments));
  if (length == 0) {
    std::printf("FAILED %lu\n", GetLastError());
    return 1;
  }
  PrintUtf8(std::wstring(text, length));
  LocalFree(text);
  FreeLibrary(module);
  return 0;
}
