#include <algorithm>

#include "CheckReport.h"
#include "DllFacts.h"
#include "KeyFiles.h"
#include "ReleaseFolder.h"
#include "ToolCommands.h"
#include "core/ServiceRecords.h"
#include "core/UnicodeDecoding.h"
#include "core/VersionCompare.h"

namespace {

constexpr std::int64_t kSecondsPerWeek = 7 * 24 * 3600;

std::int64_t NextSequence(const ReleaseRequest& request, const ReleaseFolder& folder) {
  const std::optional<ReleaseInfo> existing = folder.ExistingRelease();
  const std::int64_t sequence = request.sequence.value_or(existing ? existing->sequence + 1 : 1);
  if (existing && sequence <= existing->sequence) {
    throw Refused(L"Folgenummer " + std::to_wstring(sequence) +
                  L" ist nicht größer als die der vorhandenen Releasedatei (" +
                  std::to_wstring(existing->sequence) +
                  L"); Hosts, die diese kennen, lehnen "
                  L"sie ab.");
  }
  return sequence;
}

ReleaseInfo Describe(const ReleaseRequest& request, const DllFacts& dll, std::int64_t sequence,
                     std::vector<std::string> timestampKeys, std::int64_t nowUnix) {
  ReleaseInfo r;
  r.sequence = sequence;
  r.version = dll.version;
  r.url = request.dllUrl;
  r.size = dll.size;
  r.sha256 = dll.sha256;
  r.publishedUnix = request.publishedUnix.value_or(nowUnix);
  r.ramp = request.ramp;
  r.timestampKeys = std::move(timestampKeys);
  r.expiresUnix = r.publishedUnix + request.expiryWeeks * kSecondsPerWeek;
  r.revoked = request.revoked;
  if (std::any_of(r.revoked.begin(), r.revoked.end(),
                  [&](const std::wstring& v) { return IsSameVersion(v, r.version); })) {
    throw Refused(L"Die DLL hat die Version " + r.version +
                  L", die --zurueckgezogen selbst zurückzieht.");
  }
  if (r.expiresUnix <= nowUnix) {
    throw Refused(L"Die Releasedatei wäre schon bei der Veröffentlichung abgelaufen (" +
                  FormatUtc(r.expiresUnix) + L").");
  }
  return r;
}

}  // namespace

void RunRelease(const ReleaseRequest& request, ConsoleOutput& out, std::int64_t nowUnix) {
  const PrivateKey releaseKey = ReadPrivateKey(request.releaseKeyFile);
  std::optional<PrivateKey> nextKey;
  if (request.nextKeyFile) nextKey.emplace(ReadPrivateKey(*request.nextKeyFile));
  std::vector<std::string> timestampKeys;
  for (const std::wstring& file : request.timestampKeyFiles) {
    timestampKeys.push_back(ReadPublicKey(file));
  }
  const DllFacts dll = ReadDllFacts(request.dllFile);
  const ReleaseFolder folder(request.folder);
  const ReleaseInfo release =
      Describe(request, dll, NextSequence(request, folder), std::move(timestampKeys), nowUnix);

  SignedEnvelope envelope{FormatReleasePayload(release), {}};
  // What a host would not read back is not published.
  if (ParseReleasePayload(envelope.payload) != release) {
    throw Exception(L"Der Inhalt der Releasedatei liest sich nicht unverändert zurück.");
  }
  envelope.signatures.push_back(releaseKey.Sign(envelope.payload));
  if (nextKey) envelope.signatures.push_back(nextKey->Sign(envelope.payload));
  const std::string bytes = FormatSignedEnvelope(envelope);
  if (bytes.size() > kMaxReleaseFileBytes) {
    throw Refused(L"Die Releasedatei wäre " + std::to_wstring(bytes.size()) +
                  L" Bytes groß; Hosts nehmen höchstens " + std::to_wstring(kMaxReleaseFileBytes) +
                  L".");
  }
  folder.WriteRelease(bytes);

  out.WriteLine(L"Releasedatei geschrieben: " + folder.ReleasePath());
  out.WriteLine(L"Folgenummer " + std::to_wstring(release.sequence) + L", Version " +
                release.version + L", " + std::to_wstring(release.size) + L" Bytes, SHA-256 " +
                DecodeUtf8(ToHex(release.sha256)));
  out.WriteLine(L"Veröffentlicht " + FormatUtc(release.publishedUnix) + L", gültig bis " +
                FormatUtc(release.expiresUnix));
  out.WriteLine(L"Signiert von " + DecodeUtf8(releaseKey.PublicKey()));
  if (nextKey) out.WriteLine(L"Signiert von " + DecodeUtf8(nextKey->PublicKey()));
  out.WriteLine(L"Hosts nehmen sie erst mit einem Zeitstempel dazu an (Befehl zeitstempel).");
}
