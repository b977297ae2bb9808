#pragma once
// The release tool's output, a console program's: the console itself through WriteConsoleW, or,
// redirected to a file or pipe, the OEM code page with CR LF as the system's console tools write.

#include "platform/ConsoleOutput.h"

class ToolConsole : public ConsoleOutput {
 public:
  ToolConsole();
  void WriteLine(const std::wstring& line) override;

 private:
  void* output_ = nullptr;  // the process's standard output, not owned
  bool console_ = false;
};
