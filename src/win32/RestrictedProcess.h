#pragma once
// A process that has no more power than a worker process of IIS, started from a service that
// runs as LocalSystem: a restricted copy of the service's token (every privilege but
// SeChangeNotifyPrivilege removed, the Administrators group and the service's own account
// deny-only, low integrity) in a job object that ends it when the job's handle closes, lets it
// start no other process, show no interface and use a bounded processor time.

#include <windows.h>

#include <string>

#include "core/Exception.h"
#include "win32/ScopedHandle.h"

// Raised when the process cannot be started with every restriction; the message names the step
// the platform refused.
class RestrictionRefused : public Exception {
 public:
  using Exception::Exception;
};

class RestrictedProcess {
 public:
  // Starts program with the command line in folder. Raises RestrictionRefused when any
  // restriction cannot be made; nothing runs then.
  RestrictedProcess(const std::wstring& program, std::wstring commandLine,
                    const std::wstring& folder, DWORD processorTimeMs);
  // Ends the process if it still runs (the job closes).
  ~RestrictedProcess() = default;

  // Waits up to ms; true when the process ended, with its exit code.
  bool WaitForExit(DWORD ms, DWORD& exitCode);
  // Ends the process and waits until its files are let go.
  void End();

 private:
  UniqueHandle job_;
  UniqueHandle process_;
};
