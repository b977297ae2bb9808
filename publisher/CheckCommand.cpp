#include "CheckReport.h"
#include "ReleaseFolder.h"
#include "ToolCommands.h"
#include "win32/EcdsaP256.h"

void RunCheck(const CheckRequest& request, ConsoleOutput& out, std::int64_t nowUnix) {
  const std::vector<std::string> releaseKeys = ParseReleaseKeys(request.releaseKeys);
  const ReleaseFolder folder(request.folder);
  const std::optional<std::string> timestampBytes = folder.ReadTimestamp();
  const std::optional<std::string> releaseBytes = folder.ReadRelease();
  if (!timestampBytes) throw Refused(L"Kein Zeitstempel: " + folder.TimestampPath());
  if (!releaseBytes) throw Refused(L"Keine Releasedatei: " + folder.ReleasePath());

  CngReleaseSignatures signatures;
  const SignatureCheck check = [&](const std::string& key, const std::string& message,
                                   const std::string& signature) {
    return signatures.Verify(key, message, signature);
  };
  const ReleaseState known{request.knownTimestampSequence, request.knownReleaseSequence, {}};
  const TimestampVerdict timestamp = CheckTimestamp(
      *timestampBytes, TimestampSigners(releaseBytes, releaseKeys, check), known, nowUnix, check);
  if (timestamp.refusal) throw Refused(timestamp.refusal->reason);
  const ReleaseVerdict release =
      CheckRelease(*releaseBytes, *timestamp.timestamp, releaseKeys, known, nowUnix, check);
  if (release.refusal) throw Refused(release.refusal->reason);

  out.WriteLine(L"Geprüft wie ein Host, Zeit " + FormatUtc(nowUnix) + L": beide Dateien gültig.");
  for (const std::wstring& line :
       DescribeVerifiedFiles(*timestamp.timestamp, *release.release, nowUnix)) {
    out.WriteLine(line);
  }
  if (request.machineIdentity) {
    const HostVerdict verdict = DecideForHost(*request.machineIdentity, *request.installedVersion,
                                              *release.release, timestamp.timestamp->cap, nowUnix);
    for (const std::wstring& line :
         DescribeHost(*request.machineIdentity, *request.installedVersion, verdict)) {
      out.WriteLine(line);
    }
  }
}
