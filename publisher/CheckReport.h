#pragma once
// What pruefen says about verified release files, and what a given host would do with them now.
// Portable: the checks themselves are the host's own (core/ReleaseFiles.h, core/RolloutBrake.h).

#include <cstdint>
#include <string>
#include <vector>

#include "core/ReleaseFiles.h"
#include "core/RolloutBrake.h"

// The verified facts, one German line each: both files' sequences and expiries, the version, the
// DLL's size, SHA-256 and URL, the revoked versions, and the ramp's and the cap's percent now.
std::vector<std::wstring> DescribeVerifiedFiles(const TimestampInfo& timestamp,
                                                const ReleaseInfo& release, std::int64_t nowUnix);

struct HostVerdict {
  RolloutDecision rollout;
  bool older = false;    // the installed version is older than the release's
  bool revoked = false;  // the installed version is one the release withdraws
  bool install = false;  // the host takes the release now
};

// A host installs a release whose version is newer than its own, or any other version when its
// own is revoked (the only way back to an older one), and only once the brake lets it in.
HostVerdict DecideForHost(const std::wstring& machineIdentity, const std::wstring& installedVersion,
                          const ReleaseInfo& release, int cap, std::int64_t nowUnix);

// The verdict as German lines.
std::vector<std::wstring> DescribeHost(const std::wstring& machineIdentity,
                                       const std::wstring& installedVersion,
                                       const HostVerdict& verdict);

// "2026-12-10 10:45:00 UTC".
std::wstring FormatUtc(std::int64_t unixSeconds);
