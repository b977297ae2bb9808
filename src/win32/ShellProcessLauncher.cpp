#include "win32/ShellProcessLauncher.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

namespace {
class ShellProcess : public LaunchedProcess {
 public:
  explicit ShellProcess(HANDLE process) : process_(process) {}
  bool WaitForExit(unsigned milliseconds) override {
    if (!process_) return true;
    return WaitForSingleObject(process_.Get(), milliseconds) != WAIT_TIMEOUT;
  }
  std::optional<std::uint32_t> ExitCode() override {
    DWORD code = 0;
    if (!process_ || !GetExitCodeProcess(process_.Get(), &code) || code == STILL_ACTIVE) {
      return std::nullopt;
    }
    return code;
  }

 private:
  UniqueHandle process_;
};
}  // namespace

std::unique_ptr<LaunchedProcess> ShellProcessLauncher::Launch(const std::wstring& verb,
                                                              const std::wstring& file,
                                                              const std::wstring& parameters,
                                                              const std::wstring& directory,
                                                              int showCommand) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = verb.c_str();
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = directory.c_str();
  info.nShow = showCommand;
  if (!ShellExecuteExW(&info)) RaiseSystemError(GetLastError());
  return std::make_unique<ShellProcess>(info.hProcess);
}
