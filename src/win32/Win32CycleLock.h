#pragma once
// The cycle lock as a file beside the program, held open without any sharing: the service
// (session 0) and an administrator's command line (another session) meet on the same file, and
// only an account that may write the program folder (SYSTEM, the administrators) can make it.
// A named kernel object could be made first by any account; a private namespace bounded by the
// Administrators group would prevent that, but is not available on every platform the service
// is tested on.

#include <string>

#include "platform/CycleLock.h"
#include "win32/ScopedHandle.h"

class Win32CycleLock : public CycleLock {
 public:
  static constexpr const wchar_t* FileName = L"KORVAL_Update_Service_Zyklus.sperre";

  // folder: the program folder, the one of the exe and its INI file.
  explicit Win32CycleLock(const std::wstring& folder);

  // Polls while another process holds the file; it is deleted when its holder lets go or ends.
  bool TryAcquire(unsigned milliseconds) override;
  void Release() override;
  // Makes nothing: checks a file of that name left in the folder and removes it when another
  // account owns it or it is a link.
  void Claim() override;

  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
  UniqueHandle held_;
};
