#pragma once
// Starts programs through ShellExecuteExW, keeping a handle to wait on.

#include "platform/ProcessLauncher.h"

class ShellProcessLauncher : public ProcessLauncher {
 public:
  std::unique_ptr<LaunchedProcess> Launch(const std::wstring& verb, const std::wstring& file,
                                          const std::wstring& parameters,
                                          const std::wstring& directory, int showCommand) override;
};
