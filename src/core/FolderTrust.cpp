#include "core/FolderTrust.h"

#include <array>

#include "core/ServiceFolderSecurity.h"

namespace {

constexpr wchar_t kTrustedInstallerSid[] =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// CREATOR OWNER and CREATOR GROUP only ever stand for the creator of something new; OWNER RIGHTS
// stands for the owner, who is checked on its own.
constexpr std::array<const wchar_t*, 3> kPlaceholderSids = {L"S-1-3-0", L"S-1-3-1", L"S-1-3-4"};

bool IsTrustedAccount(const std::wstring& sid, const std::wstring& serviceAccountSid) {
  return sid == kTrustedInstallerSid || IsTrustedOwner(sid, serviceAccountSid);
}

bool IsPlaceholder(const std::wstring& sid) {
  for (const wchar_t* placeholder : kPlaceholderSids) {
    if (sid == placeholder) return true;
  }
  return false;
}

std::wstring RightsText(std::uint32_t mask) {
  std::wstring text;
  auto add = [&](std::uint32_t bit, const wchar_t* name) {
    if (!(mask & bit)) return;
    if (!text.empty()) text += L", ";
    text += name;
  };
  add(kGenericAll, L"Vollzugriff");
  add(kDelete, L"Löschen");
  add(kDeleteChild, L"Löschen von Unterordnern und Dateien");
  add(kWriteDac, L"Berechtigungen ändern");
  add(kWriteOwner, L"Besitz übernehmen");
  return text;
}

}  // namespace

std::optional<std::wstring> WhyFolderNotTrusted(const FolderFacts& folder,
                                                const std::wstring& serviceAccountSid) {
  if (folder.reparsePoint) {
    return folder.path + L" ist ein Verweis (Abzweigung, symbolische Verknüpfung, "
                         L"Bereitstellungspunkt).";
  }
  if (folder.ownerSid.empty()) return L"Der Besitzer von " + folder.path + L" ist nicht lesbar.";
  if (!IsTrustedAccount(folder.ownerSid, serviceAccountSid)) {
    return folder.path + L" gehört " + folder.ownerSid + L".";
  }
  if (!folder.hasAccessList) {
    return folder.path + L" hat keine Zugriffsliste: jedes Konto darf alles.";
  }
  constexpr std::uint32_t kTakingRights = kGenericAll | kDelete | kDeleteChild | kWriteDac |
                                          kWriteOwner;
  for (const AccessEntry& entry : folder.entries) {
    if (!entry.allow || entry.inheritOnly || !(entry.mask & kTakingRights)) continue;
    if (IsTrustedAccount(entry.sid, serviceAccountSid) || IsPlaceholder(entry.sid)) continue;
    return folder.path + L" erlaubt " + entry.sid + L": " + RightsText(entry.mask & kTakingRights) +
           L".";
  }
  return std::nullopt;
}

std::vector<std::wstring> FolderAndAncestors(const std::wstring& folder) {
  std::wstring path = folder;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  // The volume root: "C:\" or "\\server\share\".
  std::size_t rootLength = 0;
  if (path.size() >= 2 && path[1] == L':') {
    rootLength = 3;
  } else if (path.rfind(L"\\\\", 0) == 0) {
    const std::size_t server = path.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2) return {};
    const std::size_t share = path.find(L'\\', server + 1);
    rootLength = share == std::wstring::npos ? path.size() + 1 : share + 1;
  } else {
    return {};  // a relative path has no root to walk up to
  }
  if (path.size() < rootLength) path += L'\\';
  const std::wstring root = path.substr(0, rootLength);
  while (path.size() > rootLength && path.back() == L'\\') path.pop_back();
  std::vector<std::wstring> folders;
  while (path.size() > rootLength) {
    folders.push_back(path);
    const std::size_t slash = path.find_last_of(L'\\');
    path.resize(slash < rootLength ? rootLength : slash);
  }
  folders.push_back(root);
  return folders;
}
