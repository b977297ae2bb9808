#include <algorithm>

#include "CheckReport.h"
#include "DllFacts.h"
#include "KeyFiles.h"
#include "ReleaseFolder.h"
#include "ToolCommands.h"
#include "core/PatchCodec.h"
#include "core/ServiceRecords.h"
#include "core/Sha256Digest.h"
#include "core/UnicodeDecoding.h"
#include "core/VersionCompare.h"
#include "win32/Win32FileSystem.h"

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

// The patch from an earlier build to the new DLL, written into the folder's "patches" and named
// by the first 16 hex digits of the earlier build's SHA-256; checked by applying it before it is
// published.
ReleasePatch WritePatchFrom(const std::wstring& earlier, const ReleaseRequest& request,
                            const ReleaseFolder& folder, ConsoleOutput& out) {
  const std::optional<std::string> base = Win32FileSystem().ReadWhole(earlier);
  const std::optional<std::string> target = Win32FileSystem().ReadWhole(request.dllFile);
  if (!base || !target)
    throw Exception(L"Die DLL " + (base ? request.dllFile : earlier) + L" ist nicht lesbar.");
  const std::string patch = MakePatch(*base, *target);
  if (ApplyPatch(*base, patch, target->size()) != *target) {
    throw Exception(L"Der Patch von " + earlier + L" ergibt nicht die neue DLL.");
  }
  ReleasePatch p;
  const Sha256Bytes baseHash = Sha256Digest(*base);
  const Sha256Bytes patchHash = Sha256Digest(patch);
  p.baseSha256.assign(baseHash.begin(), baseHash.end());
  p.sha256.assign(patchHash.begin(), patchHash.end());
  p.size = patch.size();
  const std::wstring name = DecodeUtf8(ToHex(p.baseSha256).substr(0, 16)) + L".zst";
  p.url = request.patchUrl + name;
  const std::wstring written = folder.WritePatch(name, patch);
  out.WriteLine(L"Patch geschrieben: " + written + L" (" + std::to_wstring(patch.size()) +
                L" Bytes, " +
                std::to_wstring(patch.size() * 100 / std::max<std::size_t>(1, target->size())) +
                L" % der DLL) für " + earlier);
  return p;
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
  ReleaseInfo release =
      Describe(request, dll, NextSequence(request, folder), std::move(timestampKeys), nowUnix);
  for (const std::wstring& earlier : request.patchFrom) {
    release.patches.push_back(WritePatchFrom(earlier, request, folder, out));
  }

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
