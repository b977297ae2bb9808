#pragma once
// Starts programs through the shell.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class LaunchedProcess {
 public:
  virtual ~LaunchedProcess() = default;
  // Waits at most the given time; true when the process has ended (or cannot be waited on).
  virtual bool WaitForExit(unsigned milliseconds) = 0;
  // The exit code once the process has ended; std::nullopt while it runs or when it cannot be
  // known.
  virtual std::optional<std::uint32_t> ExitCode() = 0;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;
  // Starts file with parameters in directory, through the shell verb, with the show command.
  // Raises Exception when the launch fails.
  virtual std::unique_ptr<LaunchedProcess> Launch(const std::wstring& verb,
                                                  const std::wstring& file,
                                                  const std::wstring& parameters,
                                                  const std::wstring& directory,
                                                  int showCommand) = 0;
};
