#pragma once
// Whether a folder on the way to what the service writes could be changed by another account.
// The service runs as LocalSystem: a folder (or any folder above it) that another account may
// rename, delete, replace by a link, or whose access list it may rewrite, lets that account
// redirect the service's writes to a file of its choice.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One entry of a folder's access list as the platform reports it.
struct AccessEntry {
  bool allow = true;         // an allow entry; deny entries never widen access
  bool inheritOnly = false;  // applies to what is created inside, not to the folder itself
  std::wstring sid;          // S-1-...
  std::uint32_t mask = 0;    // the access rights it grants or denies
};

// What the platform reports of one folder, read without following a link.
struct FolderFacts {
  std::wstring path;
  bool reparsePoint = false;  // a junction, symbolic link or mount point
  std::wstring ownerSid;      // empty when it could not be read
  bool hasAccessList = true;  // false: no access list at all, which grants everyone everything
  std::vector<AccessEntry> entries;
};

// The rights that let an account take a folder away from the service: delete it, delete what is
// in it, change its access list or owner (generic all included).
inline constexpr std::uint32_t kDelete = 0x00010000;
inline constexpr std::uint32_t kDeleteChild = 0x00000040;
inline constexpr std::uint32_t kWriteDac = 0x00040000;
inline constexpr std::uint32_t kWriteOwner = 0x00080000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;

// Why another account could change the folder (German, for the run log and the event), or
// nullopt when only SYSTEM, the Administrators, TrustedInstaller and the service's own account
// can. serviceAccountSid: the account the service runs as.
std::optional<std::wstring> WhyFolderNotTrusted(const FolderFacts& folder,
                                                const std::wstring& serviceAccountSid);

// The folder and every folder above it, up to its volume root, nearest first: "C:\A\B\" gives
// "C:\A\B", "C:\A", "C:\"; "\\server\share\A" gives "\\server\share\A", "\\server\share\".
std::vector<std::wstring> FolderAndAncestors(const std::wstring& folder);
