#include "core/LogGenerations.h"

std::wstring GenerationPath(const std::wstring& path, int n) {
  const std::size_t slash = path.find_last_of(L"\\/");
  const std::size_t dot = path.find_last_of(L'.');
  const bool hasExtension =
      dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
  const std::size_t at = hasExtension ? dot : path.size();
  return path.substr(0, at) + L"." + std::to_wstring(n) + path.substr(at);
}

std::vector<std::pair<std::wstring, std::wstring>> GenerationShift(const std::wstring& path,
                                                                   int generations) {
  std::vector<std::pair<std::wstring, std::wstring>> moves;
  for (int n = generations - 1; n >= 1; --n) {
    moves.emplace_back(GenerationPath(path, n), GenerationPath(path, n + 1));
  }
  if (generations > 0) moves.emplace_back(path, GenerationPath(path, 1));
  return moves;
}
