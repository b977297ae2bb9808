// The proof that a folder is the service's all the way up (core/FolderTrust.h), read through
// handles that never follow a link.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include "core/Exception.h"
#include "core/FolderTrust.h"
#include "core/ServiceFolderSecurity.h"
#include "win32/HeldFolders.h"
#include "win32/SecurityInfo.h"
#include "win32/Win32Error.h"
#include "win32/Win32FileSystem.h"

namespace {

std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, &text)) return L"";
  std::wstring result(text);
  LocalFree(text);
  return result;
}

// The folder's attributes, owner and access list; what cannot be read stays empty, which the
// verdict refuses.
FolderFacts ReadFacts(HANDLE folder, const std::wstring& path) {
  FolderFacts facts;
  facts.path = path;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(folder, &info)) return facts;
  facts.reparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                       !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                      &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return facts;
  }
  std::unique_ptr<void, LocalMemoryDeleter> owned(descriptor);
  facts.ownerSid = SidText(owner);
  facts.hasAccessList = dacl != nullptr;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    AccessEntry entry;
    entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE || header->AceType == ACCESS_DENIED_ACE_TYPE) {
      const auto* simple = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
      entry.allow = header->AceType == ACCESS_ALLOWED_ACE_TYPE;
      entry.mask = simple->Mask;
      entry.sid = SidText(const_cast<DWORD*>(&simple->SidStart));
    } else {
      // An entry of another kind (object, callback) may grant anything to anybody.
      entry.allow = true;
      entry.mask = kGenericAll;
      entry.sid = L"(Eintrag der Art " + std::to_wstring(header->AceType) + L")";
    }
    facts.entries.push_back(entry);
  }
  return facts;
}

UniqueFile OpenToRead(const std::wstring& folder) {
  return UniqueFile(
      CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::wstring CannotOpen(const std::wstring& folder, DWORD error) {
  return folder + L" kann nicht geöffnet werden: " + SystemError(error).Message();
}

// Why a folder of the chain (nearest first) from `first` on is not the service's; nullopt when
// every one is. chain[0] is read through `self` when it is asked for.
std::optional<std::wstring> WhyChainNotTrusted(const std::vector<std::wstring>& chain,
                                               std::size_t first, HANDLE self) {
  const std::wstring account = ProcessAccountSid();
  for (std::size_t i = first; i < chain.size(); ++i) {
    UniqueFile opened = i == 0 ? UniqueFile() : OpenToRead(chain[i]);
    if (i > 0 && !opened) return CannotOpen(chain[i], GetLastError());
    FolderFacts facts = ReadFacts(i == 0 ? self : opened.Get(), chain[i]);
    // Asked by name too: Wine opens what a link points to even when told not to follow it.
    const DWORD attributes = GetFileAttributesW(chain[i].c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      facts.reparsePoint = true;
    }
    // A volume's root is the volume itself, which nobody but an administrator mounts: what it
    // says of links does not count (Wine shows Z:\, its way to the Unix root, as a link).
    if (i + 1 == chain.size() && attributes != INVALID_FILE_ATTRIBUTES) facts.reparsePoint = false;
    if (std::optional<std::wstring> why = WhyFolderNotTrusted(facts, account)) return why;
  }
  return std::nullopt;
}

}  // namespace

// The folder is held first, so that nothing can take its place while the folders above it are
// read; a folder above that was swapped before then shows as a link or a foreign folder.
FolderCheck Win32FileSystem::HoldTrustedFolder(const std::wstring& folder) {
  FolderCheck check;
  const std::vector<std::wstring> chain = FolderAndAncestors(folder);
  if (chain.empty()) {
    check.whyNot = folder + L" ist kein vollständiger Pfad.";
    return check;
  }
  UniqueFile held = OpenFolderForHold(chain.front());
  if (!held) {
    check.whyNot = CannotOpen(chain.front(), GetLastError());
    return check;
  }
  if (std::optional<std::wstring> why = WhyChainNotTrusted(chain, 0, held.Get())) {
    check.whyNot = *why;
    return check;
  }
  check.held = std::make_unique<FolderHold>(chain.front(), std::move(held));
  return check;
}

// The folders above are proven first (none of them can then be renamed by another account), and
// the descriptor goes through a handle of the folder itself, opened without following a link: a
// folder above swapped for a junction never makes the service give its descriptor elsewhere.
void Win32FileSystem::ProtectFolder(const std::wstring& path) {
  const std::vector<std::wstring> chain = FolderAndAncestors(path);
  if (chain.empty()) throw Exception(path + L" ist kein vollständiger Pfad.");
  const std::wstring& folder = chain.front();
  if (std::optional<std::wstring> why = WhyChainNotTrusted(chain, 1, nullptr)) {
    throw Exception(*why);
  }
  UniqueFile handle(
      CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!handle) RaiseSystemError(GetLastError());
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle.Get(), &info)) RaiseSystemError(GetLastError());
  const DWORD byName = GetFileAttributesW(folder.c_str());
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || byName == INVALID_FILE_ATTRIBUTES ||
      (byName & FILE_ATTRIBUTE_REPARSE_POINT)) {
    throw Exception(L"Der Ordner " + folder +
                    L" ist ein Verweis (Abzweigung, symbolische Verknüpfung) oder kein Ordner.");
  }
  ApplySddl(
      handle.Get(), folder, ServiceFolderSddl(),
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION);
}
