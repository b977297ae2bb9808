#pragma once
// A console that keeps the lines printed to it.

#include <string>
#include <vector>

#include "platform/ConsoleOutput.h"

class RecordingConsole : public ConsoleOutput {
 public:
  void WriteLine(const std::wstring& line) override { lines.push_back(line); }
  // The printed lines with a run-log time stamp cut off, so tests compare texts alone.
  std::vector<std::wstring> Texts() const {
    std::vector<std::wstring> texts;
    for (const std::wstring& line : lines) {
      const std::size_t colon = line.find(L"M: ");  // "... PM: " in the fake clock's format
      texts.push_back(colon == std::wstring::npos ? line : line.substr(colon + 3));
    }
    return texts;
  }
  std::vector<std::wstring> lines;
};
