#pragma once
// Where the command-line switches print their lines: the calling console, or the file or pipe
// their standard output is redirected to.

#include <string>

class ConsoleOutput {
 public:
  virtual ~ConsoleOutput() = default;
  // Prints one line and its line break. Never raises: a line that cannot be printed is lost.
  virtual void WriteLine(const std::wstring& line) = 0;
};
