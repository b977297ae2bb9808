#include "core/ServiceRecords.h"

#include "core/Exception.h"
#include "core/RecordLines.h"
#include "core/UnicodeDecoding.h"

namespace {
const char kHeader[] = "KORVAL-AUFZEICHNUNGEN 1";
const char kRejectedVersion[] = "ZURUECKGENOMMENE_VERSION";
const char kRejectedSha256[] = "ZURUECKGENOMMENE_SHA256";
const char kRejectedCause[] = "ZURUECKGENOMMEN_GRUND";
const char kRejectedFailures[] = "ZURUECKGENOMMEN_FEHLVERSUCHE";
const char kRejectedAt[] = "ZURUECKGENOMMEN_AM";
const char* const kCauseNames[] = {"STATUSSEITE", "LADEPROBE", "RECYCLE"};
// More failures than this are not counted: the wait stopped growing long before.
constexpr int kMaxFailures = 1000;
const char kSeenVersion[] = "GESEHENE_VERSION";
const char kSeenSince[] = "GESEHEN_SEIT";
const char kPausedServer[] = "PAUSE_SERVER";
const char kPauseUntil[] = "PAUSE_BIS";
// The signed release files' numbers, each with its highest value.
struct NumberKey {
  const char* key;
  std::int64_t ServiceRecords::*field;
  std::int64_t highest;
};
const NumberKey kNumberKeys[] = {
    {"ZEITSTEMPEL_FOLGE", &ServiceRecords::timestampSequence, 999'999'999'999},
    {"RELEASE_FOLGE", &ServiceRecords::releaseSequence, 999'999'999'999},
    {"ROLLOUT_DECKEL", &ServiceRecords::rolloutCap, 100},
    {"ZEITSTEMPEL_GUELTIG_BIS", &ServiceRecords::timestampValidUntilUnix, 999'999'999'999},
    {"ZEITSTEMPEL_FEHLT_SEIT", &ServiceRecords::timestampMissingSinceUnix, 999'999'999'999},
    {"EINGEFROREN_GEMELDET", &ServiceRecords::frozenWarnedUnix, 999'999'999'999},
    {"INSTALLIERTE_RELEASE_FOLGE", &ServiceRecords::installedReleaseSequence, 999'999'999'999},
};
const char kReleaseSha256[] = "RELEASE_SHA256";
const char kTimestampEtag[] = "ZEITSTEMPEL_ETAG";
const char kTimestampLastModified[] = "ZEITSTEMPEL_GEAENDERT";
const char kVersionText[] = "VERSIONSTEXT";
const char kVersionSource[] = "VERSIONSTEXT_QUELLE";
const char kVersionEtag[] = "VERSIONSTEXT_ETAG";
const char kVersionLastModified[] = "VERSIONSTEXT_GEAENDERT";
// A version text is short; anything longer was not written by the service.
constexpr std::size_t kMaxValueChars = 128;

// A key as the run log may show it: printable ASCII only, whatever the file held.
std::wstring Widen(const std::string& key) {
  std::wstring text;
  for (char c : key.substr(0, 64)) text += (c >= 0x20 && c < 0x7F) ? static_cast<wchar_t>(c) : L'?';
  return text;
}

// Applies one "KEY=value" line; answers why it was ignored, or the empty text.
std::wstring Apply(const std::string& line, ServiceRecords& records) {
  const std::size_t equals = line.find('=');
  if (equals == std::string::npos) return L"Zeile ohne \"=\"";
  const std::string key = line.substr(0, equals);
  const std::string raw = line.substr(equals + 1);
  if (key == kSeenSince || key == kPauseUntil || key == kRejectedAt) {
    const bool digits = !raw.empty() && raw.size() <= 12 &&
                        raw.find_first_not_of("0123456789") == std::string::npos;
    if (!digits) return Widen(key) + L": keine Zeitangabe";
    (key == kSeenSince    ? records.seenSinceUnix
     : key == kPauseUntil ? records.pauseUntilUnix
                          : records.rejectedAtUnix) = std::stoll(raw);
    return L"";
  }
  for (const NumberKey& number : kNumberKeys) {
    if (key != number.key) continue;
    const bool digits = !raw.empty() && raw.size() <= 12 &&
                        raw.find_first_not_of("0123456789") == std::string::npos &&
                        std::stoll(raw) <= number.highest;
    if (!digits) return Widen(key) + L": keine Zahl";
    records.*number.field = std::stoll(raw);
    return L"";
  }
  if (key == kVersionSource) {
    if (!IsSha256Hex(raw)) return Widen(key) + L": kein SHA-256";
    records.versionSource = raw;
    return L"";
  }
  if (key == kReleaseSha256) {
    if (!IsSha256Hex(raw)) return Widen(key) + L": kein SHA-256";
    records.releaseSha256 = raw;
    return L"";
  }
  if (key == kRejectedCause) {
    for (int cause = 0; cause < 3; ++cause) {
      if (raw == kCauseNames[cause]) {
        records.rejectedCause = static_cast<RejectionCause>(cause);
        return L"";
      }
    }
    return Widen(key) + L": unbekannter Grund";
  }
  if (key == kRejectedFailures) {
    const bool count = !raw.empty() && raw.size() <= 4 &&
                       raw.find_first_not_of("0123456789") == std::string::npos &&
                       std::stoi(raw) >= 1 && std::stoi(raw) <= kMaxFailures;
    if (!count) return Widen(key) + L": keine Anzahl";
    records.rejectedFailures = std::stoi(raw);
    return L"";
  }
  if (key == kRejectedSha256) {
    if (!IsSha256Hex(raw)) return Widen(key) + L": kein SHA-256";
    records.rejectedSha256 = raw;
    return L"";
  }
  std::wstring value;
  try {
    value = DecodeUtf8(raw);
  } catch (const Exception&) {
    return Widen(key) + L": kein gültiges UTF-8";
  }
  if (value.size() > kMaxValueChars || HasControlCharacters(value)) {
    return Widen(key) + L": unzulässiger Wert";
  }
  if (key == kRejectedVersion) {
    records.rejectedVersion = value;
  } else if (key == kSeenVersion) {
    records.seenVersion = value;
  } else if (key == kPausedServer) {
    records.pausedServer = value;
  } else if (key == kVersionText) {
    records.versionText = value;
  } else if (key == kVersionEtag) {
    records.versionEtag = value;
  } else if (key == kVersionLastModified) {
    records.versionLastModified = value;
  } else if (key == kTimestampEtag) {
    records.timestampEtag = value;
  } else if (key == kTimestampLastModified) {
    records.timestampLastModified = value;
  } else {
    return L"unbekannter Schlüssel " + Widen(key);
  }
  return L"";
}
}  // namespace

bool IsSha256Hex(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 0x0F];
  }
  return hex;
}

std::string FromHex(const std::string& hex) {
  std::string raw;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    raw += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return raw;
}

std::string FormatServiceRecords(const ServiceRecords& records) {
  std::string text = std::string(kHeader) + "\n";
  if (!records.rejectedVersion.empty()) {
    text += std::string(kRejectedVersion) + "=" + EncodeUtf8(records.rejectedVersion) + "\n";
    text += std::string(kRejectedSha256) + "=" + records.rejectedSha256 + "\n";
    // After the keys an older service knows, which it reads as before and names the rest.
    if (records.rejectedFailures > 0) {
      text += std::string(kRejectedCause) + "=" +
              kCauseNames[static_cast<int>(records.rejectedCause)] + "\n";
      text +=
          std::string(kRejectedFailures) + "=" + std::to_string(records.rejectedFailures) + "\n";
      text += std::string(kRejectedAt) + "=" + std::to_string(records.rejectedAtUnix) + "\n";
    }
  }
  if (!records.seenVersion.empty()) {
    text += std::string(kSeenVersion) + "=" + EncodeUtf8(records.seenVersion) + "\n";
    text += std::string(kSeenSince) + "=" + std::to_string(records.seenSinceUnix) + "\n";
  }
  if (!records.pausedServer.empty()) {
    text += std::string(kPausedServer) + "=" + EncodeUtf8(records.pausedServer) + "\n";
    text += std::string(kPauseUntil) + "=" + std::to_string(records.pauseUntilUnix) + "\n";
  }
  if (!records.releaseSha256.empty()) {
    text += std::string(kReleaseSha256) + "=" + records.releaseSha256 + "\n";
  }
  if (!records.timestampEtag.empty()) {
    text += std::string(kTimestampEtag) + "=" + EncodeUtf8(records.timestampEtag) + "\n";
  }
  if (!records.timestampLastModified.empty()) {
    text += std::string(kTimestampLastModified) + "=" + EncodeUtf8(records.timestampLastModified) +
            "\n";
  }
  if (!records.versionText.empty() && !records.versionSource.empty()) {
    text += std::string(kVersionText) + "=" + EncodeUtf8(records.versionText) + "\n";
    text += std::string(kVersionSource) + "=" + records.versionSource + "\n";
    for (const auto& [key, value] :
         {std::pair{kVersionEtag, &records.versionEtag},
          std::pair{kVersionLastModified, &records.versionLastModified}}) {
      if (!value->empty()) text += std::string(key) + "=" + EncodeUtf8(*value) + "\n";
    }
  }
  const ServiceRecords none;
  for (const NumberKey& number : kNumberKeys) {
    if (records.*number.field == none.*number.field) continue;
    text += std::string(number.key) + "=" + std::to_string(records.*number.field) + "\n";
  }
  return text;
}

ParsedServiceRecords ParseServiceRecords(const std::string& bytes) {
  ParsedServiceRecords parsed;
  const std::vector<std::string> lines = SplitRecordLines(bytes);
  if (lines.empty()) {
    parsed.ignored.push_back(L"die Datei ist leer");
    return parsed;
  }
  if (lines.front() != kHeader) {
    parsed.ignored.push_back(L"die Datei hat nicht das erwartete Format");
    return parsed;
  }
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.empty()) continue;
    const std::wstring why = Apply(line, parsed.records);
    if (!why.empty()) parsed.ignored.push_back(why);
  }
  // A version without its hash (or the other way round) is half a record: neither half is used.
  if (parsed.records.rejectedVersion.empty() != parsed.records.rejectedSha256.empty()) {
    parsed.ignored.push_back(L"zurückgenommene Version ohne SHA-256");
    parsed.records.rejectedVersion.clear();
    parsed.records.rejectedSha256.clear();
  }
  // The history of a rejection belongs to it and is used whole or not at all: the rejection
  // itself then reads as one an older service wrote.
  const ServiceRecords& r = parsed.records;
  const bool anyHistory = r.rejectedFailures > 0 || r.rejectedAtUnix > 0 ||
                          r.rejectedCause != RejectionCause::StatusPage;
  const bool wholeHistory = r.rejectedFailures > 0 && r.rejectedAtUnix > 0;
  if (anyHistory && (r.rejectedVersion.empty() || !wholeHistory)) {
    parsed.ignored.push_back(L"unvollständige Angaben zur zurückgenommenen Version");
    parsed.records.rejectedCause = RejectionCause::StatusPage;
    parsed.records.rejectedFailures = 0;
    parsed.records.rejectedAtUnix = 0;
  }
  if (parsed.records.seenVersion.empty() != (parsed.records.seenSinceUnix == 0)) {
    parsed.ignored.push_back(L"gesehene Version ohne Zeitpunkt");
    parsed.records.seenVersion.clear();
    parsed.records.seenSinceUnix = 0;
  }
  // A kept version text stands only with its address and a validator to ask with.
  ServiceRecords& v = parsed.records;
  if (!v.versionText.empty() || !v.versionSource.empty() || !v.versionEtag.empty() ||
      !v.versionLastModified.empty()) {
    if (v.versionText.empty() || v.versionSource.empty() ||
        (v.versionEtag.empty() && v.versionLastModified.empty())) {
      parsed.ignored.push_back(L"Versionstext ohne Adresse oder Kennung");
      v.versionText.clear();
      v.versionSource.clear();
      v.versionEtag.clear();
      v.versionLastModified.clear();
    }
  }
  if (parsed.records.pausedServer.empty() != (parsed.records.pauseUntilUnix == 0)) {
    parsed.ignored.push_back(L"Pause eines Servers ohne Zeitpunkt");
    parsed.records.pausedServer.clear();
    parsed.records.pauseUntilUnix = 0;
  }
  return parsed;
}
