#include <algorithm>

#include "CheckReport.h"
#include "KeyFiles.h"
#include "ReleaseFolder.h"
#include "ToolCommands.h"
#include "win32/Sha256.h"

namespace {

constexpr std::int64_t kSecondsPerHour = 3600;
constexpr int kFullCap = 100;

std::string Sha256Of(const std::string& bytes) {
  Sha256Hasher hasher;
  hasher.Add(bytes.data(), bytes.size());
  return hasher.Finish();
}

// The release file as it lies in the folder: the timestamp binds exactly these bytes.
std::pair<std::string, ReleaseInfo> CurrentRelease(const ReleaseFolder& folder) {
  std::optional<std::string> bytes = folder.ReadRelease();
  if (!bytes) {
    throw Refused(L"Im Ordner liegt keine Releasedatei (" + folder.ReleasePath() + L").");
  }
  try {
    ReleaseInfo release = ParseReleasePayload(ParseSignedEnvelope(*bytes).payload);
    return {std::move(*bytes), std::move(release)};
  } catch (const Exception& e) {
    throw Refused(L"Die Releasedatei " + folder.ReleasePath() + L" ist nicht lesbar: " +
                  e.Message());
  }
}

void WarnAboutHostsThatWouldRefuse(const ReleaseInfo& release, const PrivateKey& key,
                                   std::int64_t nowUnix, ConsoleOutput& out) {
  const auto& keys = release.timestampKeys;
  if (std::find(keys.begin(), keys.end(), key.PublicKey()) == keys.end()) {
    out.WriteLine(
        L"Warnung: Dieser Schlüssel steht nicht unter den Zeitstempelschlüsseln der "
        L"Releasedatei; nur Hosts, die ihn als Releaseschlüssel kennen, nehmen den "
        L"Zeitstempel an.");
  }
  if (release.expiresUnix <= nowUnix) {
    out.WriteLine(L"Warnung: Die Releasedatei ist seit " + FormatUtc(release.expiresUnix) +
                  L" abgelaufen; Hosts lehnen sie ab, bis eine neue veröffentlicht ist.");
  }
}

}  // namespace

void RunTimestamp(const TimestampRequest& request, ConsoleOutput& out, std::int64_t nowUnix) {
  const PrivateKey key = ReadPrivateKey(request.timestampKeyFile);
  const ReleaseFolder folder(request.folder);
  const auto [releaseBytes, release] = CurrentRelease(folder);
  const std::optional<TimestampInfo> existing = folder.ExistingTimestamp();

  if (existing && release.sequence < existing->releaseSequence) {
    throw Refused(L"Die Releasedatei hat die Folgenummer " + std::to_wstring(release.sequence) +
                  L", der vorhandene Zeitstempel nennt schon " +
                  std::to_wstring(existing->releaseSequence) +
                  L"; Hosts, die diese kennen, lehnen die ältere ab.");
  }
  TimestampInfo timestamp;
  timestamp.sequence = existing ? existing->sequence + 1 : 1;
  timestamp.releaseSequence = release.sequence;
  timestamp.releaseSha256 = Sha256Of(releaseBytes);
  timestamp.cap = request.cap.value_or(existing ? existing->cap : kFullCap);
  timestamp.issuedUnix = request.issuedUnix.value_or(nowUnix);
  timestamp.expiresUnix = timestamp.issuedUnix + request.expiryHours * kSecondsPerHour;
  if (timestamp.expiresUnix <= nowUnix) {
    throw Refused(L"Der Zeitstempel wäre schon beim Schreiben abgelaufen (" +
                  FormatUtc(timestamp.expiresUnix) + L").");
  }
  WarnAboutHostsThatWouldRefuse(release, key, nowUnix, out);

  SignedEnvelope envelope{FormatTimestampPayload(timestamp), {}};
  if (ParseTimestampPayload(envelope.payload) != timestamp) {
    throw Exception(L"Der Inhalt des Zeitstempels liest sich nicht unverändert zurück.");
  }
  envelope.signatures.push_back(key.Sign(envelope.payload));
  const std::string bytes = FormatSignedEnvelope(envelope);
  if (bytes.size() > kMaxTimestampFileBytes) {
    throw Exception(L"Der Zeitstempel wäre größer, als Hosts ihn annehmen.");
  }
  folder.WriteTimestamp(bytes);

  out.WriteLine(L"Zeitstempel geschrieben: " + folder.TimestampPath());
  out.WriteLine(L"Folgenummer " + std::to_wstring(timestamp.sequence) + L" für die Releasedatei " +
                std::to_wstring(timestamp.releaseSequence) + L" (Version " + release.version +
                L"), Deckel " + std::to_wstring(timestamp.cap) + L" %" +
                (timestamp.cap == 0 ? L" (angehalten)" : L""));
  out.WriteLine(L"Ausgestellt " + FormatUtc(timestamp.issuedUnix) + L", gültig bis " +
                FormatUtc(timestamp.expiresUnix));
}
