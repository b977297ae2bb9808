#pragma once
// The cycle lock as a named mutex in the global namespace, so that the service (session 0) and
// an administrator's command line (another session) meet on the same object.

#include "platform/CycleLock.h"
#include "win32/ScopedHandle.h"

class Win32CycleLock : public CycleLock {
 public:
  static constexpr const wchar_t* MutexName = L"Global\\KORVAL_Update_Service_Zyklus";

  // Creates or opens the mutex only when first asked for it.
  bool TryAcquire(unsigned milliseconds) override;
  void Release() override;
  void Claim() override;

 private:
  void Open();
  UniqueHandle mutex_;
  bool createdHere_ = false;
};
