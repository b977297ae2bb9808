#pragma once
// Runs cmd.exe in the system folder with its standard output on a pipe, bounded in time.

#include "platform/CommandRunner.h"

class Win32CommandRunner : public CommandRunner {
 public:
  CommandOutput Run(const std::wstring& parameters, unsigned timeoutMs) override;
};
