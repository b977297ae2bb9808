#include "core/ReleaseFiles.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "core/Exception.h"
#include "core/ServiceRecords.h"
#include "core/Sha256Digest.h"
#include "core/UnicodeDecoding.h"
#include "core/VersionCompare.h"

using nlohmann::json;

namespace {

json ParseObject(const std::string& text, const wchar_t* what) {
  json value = json::parse(text, nullptr, false);
  if (value.is_discarded() || !value.is_object()) {
    throw Exception(std::wstring(what) + L" ist kein JSON-Objekt.");
  }
  return value;
}

const json& Field(const json& object, const char* name) {
  const auto it = object.find(name);
  if (it == object.end()) throw Exception(L"Feld \"" + DecodeUtf8(name) + L"\" fehlt.");
  return *it;
}

std::wstring Wrong(const char* name) {
  return L"Feld \"" + DecodeUtf8(name) + L"\" hat einen unzulässigen Wert.";
}

std::int64_t Integer(const json& object, const char* name, std::int64_t low, std::int64_t high) {
  const json& value = Field(object, name);
  if (!value.is_number_integer()) throw Exception(Wrong(name));
  const std::int64_t number = value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX
                                  ? high + 1
                                  : value.get<std::int64_t>();
  if (number < low || number > high) throw Exception(Wrong(name));
  return number;
}

std::string Text(const json& value, const char* name) {
  if (!value.is_string()) throw Exception(Wrong(name));
  return value.get<std::string>();
}

std::string Text(const json& object, const char* name, bool) {
  return Text(Field(object, name), name);
}

// 64 hex digits into 32 raw bytes.
std::string Sha256FromHex(const json& object, const char* name) {
  const std::string hex = Text(object, name, true);
  if (!IsSha256Hex(hex)) throw Exception(Wrong(name));
  return FromHex(hex);
}

void ExpectKind(const json& object, const char* kind) {
  if (Text(object, "art", true) != kind) throw Exception(Wrong("art"));
}

constexpr std::int64_t kLatestUnix = 253402300799;  // 9999-12-31

std::wstring Ago(std::int64_t seconds) {
  if (seconds < 2 * 3600) return std::to_wstring(seconds / 60) + L" Minuten";
  return std::to_wstring(seconds / 3600) + L" Stunden";
}

Refusal Refuse(const std::wstring& reason) { return Refusal{reason}; }

}  // namespace

SignedEnvelope ParseSignedEnvelope(const std::string& bytes) {
  const json file = ParseObject(bytes, L"Die Datei");
  SignedEnvelope envelope;
  envelope.payload = Text(file, "inhalt", true);
  const json& signatures = Field(file, "signaturen");
  if (!signatures.is_array() || signatures.empty() || signatures.size() > 4) {
    throw Exception(Wrong("signaturen"));
  }
  for (const json& s : signatures) envelope.signatures.push_back(Text(s, "signaturen"));
  return envelope;
}

ReleaseInfo ParseReleasePayload(const std::string& payload) {
  const json object = ParseObject(payload, L"Der Inhalt");
  ExpectKind(object, "release");
  ReleaseInfo r;
  r.sequence = Integer(object, "sequenz", 1, INT64_MAX);
  r.version = DecodeUtf8(Text(object, "version", true));
  if (!IsFourPartVersion(r.version)) throw Exception(Wrong("version"));
  r.url = DecodeUtf8(Text(object, "url", true));
  if (r.url.rfind(L"http://", 0) != 0 && r.url.rfind(L"https://", 0) != 0) {
    throw Exception(Wrong("url"));
  }
  r.size = static_cast<std::uint64_t>(Integer(object, "groesse", 1, std::int64_t{1} << 32));
  r.sha256 = Sha256FromHex(object, "sha256");
  r.publishedUnix = Integer(object, "veroeffentlicht", 0, kLatestUnix);
  const json& ramp = Field(object, "rampe");
  if (!ramp.is_array() || ramp.size() > 32) throw Exception(Wrong("rampe"));
  for (const json& step : ramp) {
    if (!step.is_array() || step.size() != 2 || !step[0].is_number_integer() ||
        !step[1].is_number_integer()) {
      throw Exception(Wrong("rampe"));
    }
    const RampStep s{step[0].get<int>(), step[1].get<int>()};
    const bool inOrder =
        r.ramp.empty() || (s.hours > r.ramp.back().hours && s.percent >= r.ramp.back().percent);
    if (s.hours < 0 || s.hours > 8760 || s.percent < 0 || s.percent > 100 || !inOrder) {
      throw Exception(Wrong("rampe"));
    }
    r.ramp.push_back(s);
  }
  const json& keys = Field(object, "zeitstempelschluessel");
  if (!keys.is_array() || keys.size() > 8) throw Exception(Wrong("zeitstempelschluessel"));
  for (const json& k : keys) r.timestampKeys.push_back(Text(k, "zeitstempelschluessel"));
  r.expiresUnix = Integer(object, "ablauf", 0, kLatestUnix);
  if (const auto it = object.find("zurueckgezogen"); it != object.end()) {
    if (!it->is_array() || it->size() > 256) throw Exception(Wrong("zurueckgezogen"));
    for (const json& v : *it) {
      const std::wstring version = DecodeUtf8(Text(v, "zurueckgezogen"));
      if (!IsFourPartVersion(version)) throw Exception(Wrong("zurueckgezogen"));
      r.revoked.push_back(version);
    }
  }
  if (const auto it = object.find("patches"); it != object.end()) {
    if (!it->is_array() || it->size() > 16) throw Exception(Wrong("patches"));
    for (const json& p : *it) {
      if (!p.is_object()) throw Exception(Wrong("patches"));
      ReleasePatch patch;
      patch.baseSha256 = Sha256FromHex(p, "basis");
      patch.url = DecodeUtf8(Text(p, "url", true));
      if (patch.url.rfind(L"http://", 0) != 0 && patch.url.rfind(L"https://", 0) != 0) {
        throw Exception(Wrong("url"));
      }
      patch.size = static_cast<std::uint64_t>(Integer(p, "groesse", 1, std::int64_t{1} << 32));
      patch.sha256 = Sha256FromHex(p, "sha256");
      r.patches.push_back(patch);
    }
  }
  return r;
}

TimestampInfo ParseTimestampPayload(const std::string& payload) {
  const json object = ParseObject(payload, L"Der Inhalt");
  ExpectKind(object, "zeitstempel");
  TimestampInfo t;
  t.sequence = Integer(object, "sequenz", 1, INT64_MAX);
  t.releaseSequence = Integer(object, "releasesequenz", 1, INT64_MAX);
  t.releaseSha256 = Sha256FromHex(object, "releasesha256");
  t.cap = static_cast<int>(Integer(object, "deckel", 0, 100));
  t.issuedUnix = Integer(object, "ausgestellt", 0, kLatestUnix);
  t.expiresUnix = Integer(object, "ablauf", 0, kLatestUnix);
  return t;
}

std::string FormatReleasePayload(const ReleaseInfo& r) {
  json ramp = json::array();
  for (const RampStep& s : r.ramp) ramp.push_back({s.hours, s.percent});
  json revoked = json::array();
  for (const std::wstring& v : r.revoked) revoked.push_back(EncodeUtf8(v));
  json object = {{"art", "release"},
                 {"sequenz", r.sequence},
                 {"version", EncodeUtf8(r.version)},
                 {"url", EncodeUtf8(r.url)},
                 {"groesse", r.size},
                 {"sha256", ToHex(r.sha256)},
                 {"veroeffentlicht", r.publishedUnix},
                 {"rampe", ramp},
                 {"zeitstempelschluessel", r.timestampKeys},
                 {"ablauf", r.expiresUnix}};
  if (!r.revoked.empty()) object["zurueckgezogen"] = revoked;
  if (!r.patches.empty()) {
    json patches = json::array();
    for (const ReleasePatch& p : r.patches) {
      patches.push_back({{"basis", ToHex(p.baseSha256)},
                         {"url", EncodeUtf8(p.url)},
                         {"groesse", p.size},
                         {"sha256", ToHex(p.sha256)}});
    }
    object["patches"] = patches;
  }
  return object.dump();
}

std::string FormatTimestampPayload(const TimestampInfo& t) {
  const json object = {{"art", "zeitstempel"},
                       {"sequenz", t.sequence},
                       {"releasesequenz", t.releaseSequence},
                       {"releasesha256", ToHex(t.releaseSha256)},
                       {"deckel", t.cap},
                       {"ausgestellt", t.issuedUnix},
                       {"ablauf", t.expiresUnix}};
  return object.dump();
}

std::string FormatSignedEnvelope(const SignedEnvelope& envelope) {
  const json file = {{"inhalt", envelope.payload}, {"signaturen", envelope.signatures}};
  return file.dump(2) + "\n";
}

bool SignedByOneOf(const SignedEnvelope& envelope, const std::vector<std::string>& keys,
                   const SignatureCheck& check) {
  for (const std::string& key : keys) {
    for (const std::string& signature : envelope.signatures) {
      if (check(key, envelope.payload, signature)) return true;
    }
  }
  return false;
}

std::vector<std::string> TimestampSigners(const std::optional<std::string>& releaseFile,
                                          const std::vector<std::string>& releaseKeys,
                                          const SignatureCheck& check) {
  std::vector<std::string> keys = releaseKeys;
  if (!releaseFile) return keys;
  try {
    const SignedEnvelope envelope = ParseSignedEnvelope(*releaseFile);
    if (!SignedByOneOf(envelope, releaseKeys, check)) return keys;
    const ReleaseInfo release = ParseReleasePayload(envelope.payload);
    keys.insert(keys.end(), release.timestampKeys.begin(), release.timestampKeys.end());
  } catch (const Exception&) {
    // Not readable: only the release keys count, and the release file's check says why.
  }
  return keys;
}

bool IsRevoked(const ReleaseInfo& release, const std::wstring& version) {
  if (version.empty() || IsSameVersion(version, release.version)) return false;
  return std::any_of(release.revoked.begin(), release.revoked.end(),
                     [&](const std::wstring& v) { return IsSameVersion(v, version); });
}

TimestampVerdict CheckTimestamp(const std::string& bytes, const std::vector<std::string>& keys,
                                const ReleaseState& stored, std::int64_t nowUnix,
                                const SignatureCheck& check) {
  if (bytes.size() > kMaxTimestampFileBytes) {
    return {std::nullopt, Refuse(L"Zeitstempel zu groß: mehr als " +
                                 std::to_wstring(kMaxTimestampFileBytes) + L" Bytes.")};
  }
  SignedEnvelope envelope;
  try {
    envelope = ParseSignedEnvelope(bytes);
  } catch (const Exception& e) {
    return {std::nullopt, Refuse(L"Zeitstempel: Signatur ungültig (" + e.Message() + L")")};
  }
  if (!SignedByOneOf(envelope, keys, check)) {
    return {std::nullopt, Refuse(L"Zeitstempel: Signatur ungültig.")};
  }
  TimestampInfo t;
  try {
    t = ParseTimestampPayload(envelope.payload);
  } catch (const Exception& e) {
    return {std::nullopt, Refuse(L"Zeitstempel unlesbar: " + e.Message())};
  }
  if (t.sequence < stored.timestampSequence) {
    return {std::nullopt,
            Refuse(L"Zeitstempel älter als bekannt: Folgenummer " + std::to_wstring(t.sequence) +
                   L", bekannt " + std::to_wstring(stored.timestampSequence) + L".")};
  }
  if (t.releaseSequence < stored.releaseSequence) {
    return {std::nullopt, Refuse(L"Zeitstempel älter als bekannt: er nennt die Releasedatei " +
                                 std::to_wstring(t.releaseSequence) + L", bekannt ist " +
                                 std::to_wstring(stored.releaseSequence) + L".")};
  }
  if (nowUnix >= t.expiresUnix) {
    return {std::nullopt,
            Refuse(L"Zeitstempel veraltet: abgelaufen vor " + Ago(nowUnix - t.expiresUnix) + L".")};
  }
  return {t, std::nullopt};
}

ReleaseVerdict CheckRelease(const std::string& bytes, const TimestampInfo& timestamp,
                            const std::vector<std::string>& releaseKeys, const ReleaseState& stored,
                            std::int64_t nowUnix, const SignatureCheck& check) {
  if (bytes.size() > kMaxReleaseFileBytes) {
    return {std::nullopt, Refuse(L"Releasedatei zu groß: mehr als " +
                                 std::to_wstring(kMaxReleaseFileBytes) + L" Bytes.")};
  }
  const Sha256Bytes digest = Sha256Digest(bytes);
  if (std::string(digest.begin(), digest.end()) != timestamp.releaseSha256) {
    return {std::nullopt,
            Refuse(L"Releasedatei gehört nicht zum Zeitstempel: ihr SHA-256 ist ein anderer.")};
  }
  SignedEnvelope envelope;
  try {
    envelope = ParseSignedEnvelope(bytes);
  } catch (const Exception& e) {
    return {std::nullopt, Refuse(L"Releasedatei: Signatur ungültig (" + e.Message() + L")")};
  }
  if (!SignedByOneOf(envelope, releaseKeys, check)) {
    return {std::nullopt, Refuse(L"Releasedatei: Signatur ungültig.")};
  }
  ReleaseInfo r;
  try {
    r = ParseReleasePayload(envelope.payload);
  } catch (const Exception& e) {
    return {std::nullopt, Refuse(L"Releasedatei unlesbar: " + e.Message())};
  }
  if (r.sequence != timestamp.releaseSequence) {
    return {std::nullopt, Refuse(L"Releasedatei gehört nicht zum Zeitstempel: Folgenummer " +
                                 std::to_wstring(r.sequence) + L", der Zeitstempel nennt " +
                                 std::to_wstring(timestamp.releaseSequence) + L".")};
  }
  if (r.sequence < stored.releaseSequence) {
    return {std::nullopt,
            Refuse(L"Releasedatei älter als bekannt: Folgenummer " + std::to_wstring(r.sequence) +
                   L", bekannt " + std::to_wstring(stored.releaseSequence) + L".")};
  }
  if (nowUnix >= r.expiresUnix) {
    return {std::nullopt, Refuse(L"Releasedatei veraltet: abgelaufen vor " +
                                 Ago(nowUnix - r.expiresUnix) + L".")};
  }
  return {r, std::nullopt};
}

std::vector<std::string> ParseReleaseKeys(const std::wstring& text) {
  std::vector<std::string> keys;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(L';', start);
    if (end == std::wstring::npos) end = text.size();
    std::wstring key = text.substr(start, end - start);
    key.erase(0, key.find_first_not_of(L' '));
    key.erase(key.find_last_not_of(L' ') + 1);
    // 64 bytes are 86 base64 characters and "==". The last character carries 2 bits and 4 zero
    // bits of padding: only A, Q, g and w are the one text the key has.
    const bool base64 =
        key.size() == 88 && key.compare(86, 2, L"==") == 0 &&
        key.find_first_not_of(
            L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/") == 86 &&
        std::wstring(L"AQgw").find(key[85]) != std::wstring::npos;
    if (!base64) {
      throw Exception(
          L"Ungültiger Schlüssel in RELEASESCHLUESSEL (erwartet: Base64 eines "
          L"öffentlichen ECDSA-P-256-Schlüssels, 88 Zeichen).");
    }
    keys.push_back(EncodeUtf8(key));
    if (end == text.size()) break;
    start = end + 1;
  }
  if (keys.empty() || keys.size() > 2) {
    throw Exception(L"RELEASESCHLUESSEL nimmt einen oder zwei Schlüssel, getrennt durch \";\".");
  }
  return keys;
}

ReleaseFreshness JudgeFreshness(const ServiceRecords& r, bool validNow, bool installedIsCurrent,
                                std::int64_t nowUnix) {
  ReleaseFreshness f;
  f.active = true;
  const bool stillValid = r.timestampValidUntilUnix > nowUnix;
  if (!(validNow || stillValid)) {
    const std::int64_t since =
        r.timestampValidUntilUnix > 0 ? r.timestampValidUntilUnix : r.timestampMissingSinceUnix;
    if (since > 0 && nowUnix >= since) {
      f.missingSeconds = nowUnix - since;
      // Never verified: a day without a timestamp is a freeze too.
      f.frozen = r.timestampValidUntilUnix > 0 || f.missingSeconds >= 86400;
    }
  }
  if (!installedIsCurrent && r.releaseSequence > 0) {
    f.behind = std::max<std::int64_t>(1, r.releaseSequence - r.installedReleaseSequence);
  }
  return f;
}
