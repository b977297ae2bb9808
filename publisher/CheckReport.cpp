#include "CheckReport.h"

#include <algorithm>
#include <cwchar>

#include "core/CivilTime.h"
#include "core/ServiceRecords.h"
#include "core/UnicodeDecoding.h"
#include "core/VersionCompare.h"

namespace {

std::wstring Joined(const std::vector<std::wstring>& items, const wchar_t* separator) {
  std::wstring text;
  for (const std::wstring& item : items) text += (text.empty() ? L"" : separator) + item;
  return text;
}

std::wstring RampText(const std::vector<RampStep>& ramp) {
  std::vector<std::wstring> steps;
  for (const RampStep& s : ramp) {
    steps.push_back(std::to_wstring(s.hours) + L":" + std::to_wstring(s.percent));
  }
  return steps.empty() ? L"keine (100 %)" : Joined(steps, L",");
}

}  // namespace

std::wstring FormatUtc(std::int64_t unixSeconds) {
  const LocalTime t = TimeFromEpochSeconds(unixSeconds);
  wchar_t text[40];
  std::swprintf(text, 40, L"%04d-%02d-%02d %02d:%02d:%02d UTC", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::vector<std::wstring> DescribeVerifiedFiles(const TimestampInfo& timestamp,
                                                const ReleaseInfo& release, std::int64_t nowUnix) {
  const int ramp = RampPercent(release.ramp, release.publishedUnix, nowUnix);
  return {
      L"Zeitstempel: Folgenummer " + std::to_wstring(timestamp.sequence) + L", Deckel " +
          std::to_wstring(timestamp.cap) + L" %, ausgestellt " + FormatUtc(timestamp.issuedUnix) +
          L", gültig bis " + FormatUtc(timestamp.expiresUnix),
      L"Releasedatei: Folgenummer " + std::to_wstring(release.sequence) + L", veröffentlicht " +
          FormatUtc(release.publishedUnix) + L", gültig bis " + FormatUtc(release.expiresUnix),
      L"Version: " + release.version,
      L"DLL: " + std::to_wstring(release.size) + L" Bytes, SHA-256 " +
          DecodeUtf8(ToHex(release.sha256)),
      L"URL: " + release.url,
      L"Zurückgezogen: " + (release.revoked.empty() ? L"keine" : Joined(release.revoked, L", ")),
      L"Zeitstempelschlüssel: " + std::to_wstring(release.timestampKeys.size()),
      L"Rampe: " + RampText(release.ramp) + L"; jetzt " + std::to_wstring(ramp) +
          L" %, mit dem Deckel " + std::to_wstring(std::min(ramp, timestamp.cap)) + L" %" +
          (timestamp.cap == 0 ? L" (angehalten)" : L""),
  };
}

HostVerdict DecideForHost(const std::wstring& machineIdentity, const std::wstring& installedVersion,
                          const ReleaseInfo& release, int cap, std::int64_t nowUnix) {
  HostVerdict verdict;
  verdict.rollout = DecideRollout(machineIdentity, release, cap, nowUnix);
  const bool same = IsSameVersion(installedVersion, release.version);
  verdict.older = !same && CompareWithOnline(installedVersion, release.version).older;
  verdict.revoked = IsRevoked(release, installedVersion);
  verdict.install = (verdict.older || verdict.revoked) && verdict.rollout.install;
  return verdict;
}

std::vector<std::wstring> DescribeHost(const std::wstring& machineIdentity,
                                       const std::wstring& installedVersion,
                                       const HostVerdict& verdict) {
  std::wstring version = L"Installiert: " + installedVersion;
  if (verdict.revoked) {
    version += L" (zurückgezogen)";
  } else if (verdict.older) {
    version += L" (älter)";
  } else {
    version += L" (nicht älter)";
  }
  std::wstring decision = L"Installiert jetzt: ";
  if (verdict.install) {
    decision += L"ja";
  } else if (!verdict.older && !verdict.revoked) {
    decision += L"nein (keine neuere Version)";
  } else if (verdict.rollout.halted) {
    decision += L"nein (angehalten)";
  } else {
    decision += L"nein (Platz " + std::to_wstring(verdict.rollout.bucket) + L" liegt nicht unter " +
                std::to_wstring(verdict.rollout.percent) + L" %)";
  }
  return {L"Rechner " + machineIdentity + L": Platz " + std::to_wstring(verdict.rollout.bucket) +
              L" von 0 bis 99, freigegeben " + std::to_wstring(verdict.rollout.percent) + L" %",
          version, decision};
}
