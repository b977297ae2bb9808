#include "core/LoadedCopies.h"

#include <algorithm>

#include "core/PathNames.h"

namespace {
bool Contains(const std::vector<MappedFileId>& files, const std::optional<MappedFileId>& file) {
  return file && std::find(files.begin(), files.end(), *file) != files.end();
}

bool LoadedUnderTarget(const MappedModule& module, const std::vector<std::wstring>& targets) {
  return std::any_of(targets.begin(), targets.end(), [&](const std::wstring& target) {
    return SamePath(module.loaderName, target);
  });
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }
}  // namespace

std::vector<OldCopyHolder> ProcessesWithOldCopy(const std::vector<MappedModule>& modules,
                                                const CopyIdentities& copies) {
  std::vector<OldCopyHolder> holders;
  for (const MappedModule& module : modules) {
    const bool ours =
        LoadedUnderTarget(module, copies.targets) || Contains(copies.oldFiles, module.file);
    const bool provenNew = module.sameContent && Contains(copies.newFiles, module.file) &&
                           !Contains(copies.oldFiles, module.file);
    if (!ours || provenNew) continue;
    const bool listed = std::any_of(holders.begin(), holders.end(), [&](const OldCopyHolder& h) {
      return h.processId == module.processId;
    });
    if (!listed) {
      holders.push_back({module.processId, module.image, PoolOfWorker(module.commandLine)});
    }
  }
  return holders;
}

// w3wp.exe gets its pool as `-ap "<pool>"`; a pool's name cannot hold a double quote.
std::wstring PoolOfWorker(const std::wstring& commandLine) {
  std::size_t at = 0;
  while ((at = commandLine.find(L"-ap", at)) != std::wstring::npos) {
    const bool alone = (at == 0 || IsBlank(commandLine[at - 1])) && at + 3 < commandLine.size() &&
                       IsBlank(commandLine[at + 3]);
    at += 3;
    if (!alone) continue;
    while (at < commandLine.size() && IsBlank(commandLine[at])) ++at;
    if (at < commandLine.size() && commandLine[at] == L'"') {
      const std::size_t end = commandLine.find(L'"', at + 1);
      if (end == std::wstring::npos) return L"";
      return commandLine.substr(at + 1, end - at - 1);
    }
    std::size_t end = at;
    while (end < commandLine.size() && !IsBlank(commandLine[end])) ++end;
    return commandLine.substr(at, end - at);
  }
  return L"";
}

std::wstring OldCopyLine(const OldCopyHolder& holder) {
  std::wstring line =
      L"Alte DLL noch geladen: Prozess " + std::to_wstring(holder.processId) + L" (" + holder.image;
  if (!holder.pool.empty()) line += L", Anwendungspool " + holder.pool;
  return line + L").";
}
