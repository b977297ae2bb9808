#pragma once
// Runs an IIS command through cmd.exe and reads what it prints: the pools of a site, their state,
// their worker processes. (The commands that change the site go through the ProcessLauncher.)

#include <cstdint>
#include <string>

struct CommandOutput {
  std::uint32_t exitCode = 0;
  std::wstring text;  // standard output, decoded from the console's code page
  std::string bytes;  // standard output as written, for answers in an encoding of their own
};

class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  // Runs cmd.exe with parameters in the system folder, without a window, and waits at most
  // timeoutMs. Raises Exception when it cannot be started or has not ended in time (it is then
  // ended).
  virtual CommandOutput Run(const std::wstring& parameters, unsigned timeoutMs) = 0;
};
