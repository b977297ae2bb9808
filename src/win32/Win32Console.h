#pragma once
// The output of the command-line switches of a GUI-subsystem program: the file or pipe standard
// output is redirected to (what scripts read), otherwise the console of the calling shell.

#include "platform/ConsoleOutput.h"
#include "win32/ScopedHandle.h"

class Win32Console : public ConsoleOutput {
 public:
  // Decides once where the lines go. Without a redirected output and without a console to attach
  // to (a double-click), the lines go nowhere and no window opens.
  Win32Console();
  // A redirected output gets the OEM code page and CR LF, as the system's own console tools
  // write it; a console gets the text through WriteConsoleW.
  void WriteLine(const std::wstring& line) override;

 private:
  HANDLE redirected_ = nullptr;  // not owned: the process's standard output
  UniqueFile console_;
};
