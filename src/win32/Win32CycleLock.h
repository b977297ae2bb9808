#pragma once
// The cycle lock as a file in the service's protected download folder, held open without any
// sharing: the service (session 0) and an administrator's command line (another session) meet on
// the same file. The folder is proven the service's all the way up and held while the lock is,
// and the file is opened through the held folder, so only an account that may write there
// (SYSTEM, the administrators) can make or hold it. A private namespace bounded by the
// Administrators group would do the same for a named mutex, but Wine 8 lacks its calls, so it
// could not be tested here.

#include <memory>
#include <string>

#include "platform/CycleLock.h"
#include "platform/FileSystem.h"
#include "win32/ScopedHandle.h"

class Win32CycleLock : public CycleLock {
 public:
  static constexpr const wchar_t* FileName = L"KORVAL_Update_Service_Zyklus.sperre";

  explicit Win32CycleLock(FileSystem& files);

  // Proves and holds the folder, then polls while another process holds the file; the file is
  // deleted when its holder lets go or ends.
  bool TryAcquire(unsigned milliseconds) override;
  void Release() override;
  // Makes nothing: checks a file of that name left in the folder and removes it when another
  // account owns it or it is a link.
  void Claim(const std::wstring& folder) override;

  const std::wstring& Path() const { return path_; }

 private:
  FileSystem& files_;
  std::wstring folder_;
  std::wstring path_;
  std::unique_ptr<HeldFolder> heldFolder_;
  UniqueHandle held_;
};
