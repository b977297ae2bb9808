#include "DllFacts.h"

#include <windows.h>

#include <algorithm>

#include "core/PortableExecutable.h"
#include "core/VersionCompare.h"
#include "win32/FileHandleIo.h"
#include "win32/ScopedHandle.h"
#include "win32/Sha256.h"
#include "win32/Win32Error.h"
#include "win32/Win32VersionReader.h"

DllFacts ReadDllFacts(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const Exception error = SystemError(GetLastError());
    throw Exception(L"Die DLL " + path + L" ist nicht lesbar: " + error.Message());
  }
  DllFacts facts;
  std::string head;
  Sha256Hasher hasher;
  ReadFromStart(file.Get(), [&](const char* data, DWORD bytes) {
    if (head.size() < kPeHeadBytes) {
      head.append(data, std::min<std::size_t>(bytes, kPeHeadBytes - head.size()));
    }
    hasher.Add(data, bytes);
    facts.size += bytes;
  });
  facts.sha256 = hasher.Finish();
  if (!IsDllImage(head)) throw Exception(L"Die Datei " + path + L" ist keine DLL.");
  // Read while the file is still held: the version belongs to the bytes just hashed.
  const std::optional<ProductVersion> version = Win32VersionReader().ReadProductVersion(path);
  if (!version) throw Exception(L"Die DLL " + path + L" hat keine lesbare Produktversion.");
  facts.version = FormatProductVersion(version->ms, version->ls);
  return facts;
}
