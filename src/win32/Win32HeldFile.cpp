#include "win32/Win32HeldFile.h"

#include "win32/FileHandleIo.h"
#include "win32/HeldFolders.h"
#include "win32/Sha256.h"
#include "win32/Win32Error.h"

Win32HeldFile::Win32HeldFile(UniqueFile file) : file_(std::move(file)) {
  identityKnown_ = GetFileInformationByHandle(file_.Get(), &identity_) != FALSE;
}

std::string Win32HeldFile::Sha256() {
  Sha256Hasher hasher;
  ReadFromStart(file_.Get(), [&](const char* data, DWORD bytes) { hasher.Add(data, bytes); });
  return hasher.Finish();
}

bool Win32HeldFile::IsAt(const std::wstring& path) {
  UniqueFile other = OpenInFolder(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  if (!other) return false;
  if (!identityKnown_) {
    identityKnown_ = GetFileInformationByHandle(file_.Get(), &identity_) != FALSE;
    if (!identityKnown_) return false;
  }
  BY_HANDLE_FILE_INFORMATION named{};
  if (!GetFileInformationByHandle(other.Get(), &named)) return false;
  // Wine reports volume 0 for a handle whose file was renamed after it was opened; the path
  // lies in the held file's folder, so the file index alone then tells them apart.
  const bool sameVolume = identity_.dwVolumeSerialNumber == 0 ||
                          identity_.dwVolumeSerialNumber == named.dwVolumeSerialNumber;
  return sameVolume && identity_.nFileIndexHigh == named.nFileIndexHigh &&
         identity_.nFileIndexLow == named.nFileIndexLow;
}

std::string Win32HeldFile::ReadHead(std::size_t maxBytes) { return HeadOf(file_.Get(), maxBytes); }

void Win32HeldFile::CopyDurablyTo(const std::wstring& target) {
  // Created anew: a link planted under the name goes first, so nothing is written through it.
  DeleteInFolder(target);
  UniqueFile out = OpenInFolder(target, GENERIC_WRITE, 0, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH);
  if (!out) RaiseSystemError(GetLastError());
  try {
    ReadFromStart(file_.Get(),
                  [&](const char* data, DWORD bytes) { WriteAll(out.Get(), data, bytes); });
    if (!FlushFileBuffers(out.Get())) RaiseSystemError(GetLastError());
  } catch (...) {
    out.Reset();
    DeleteInFolder(target);
    throw;
  }
}
