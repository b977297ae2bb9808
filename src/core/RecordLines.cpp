#include "core/RecordLines.h"

std::vector<std::string> SplitRecordLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t begin = 0;
  while (begin < bytes.size()) {
    std::size_t end = bytes.find('\n', begin);
    if (end == std::string::npos) end = bytes.size();
    lines.push_back(bytes.substr(begin, end - begin));
    begin = end + 1;
  }
  return lines;
}

bool HasControlCharacters(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}
