#pragma once
// The two signed files of a release: the release file (signed offline by the release key) names
// the version, the DLL with its size and SHA-256, the rollout ramp, the keys allowed to sign
// timestamps and the revoked versions; the timestamp (signed online) binds the release file by
// its sequence and SHA-256, caps the rollout and expires within hours or days.
//
// On the wire each is a signed envelope, UTF-8 JSON:
//   {"inhalt": "<the payload, a JSON text, as one JSON string>",
//    "signaturen": ["<base64 of the 64-byte ECDSA P-256 signature r||s>", ...]}
// Every signature is over the payload's exact UTF-8 bytes (ECDSA with SHA-256). Public keys are
// base64 of the 64 bytes X||Y. The core never decodes base64: keys and signatures pass as text to
// the platform's verifier.
//
// Release payload:
//   {"art": "release", "sequenz": 7, "version": "2.1.0.1",
//    "url": "https://updates.example/KorvalAppServer.dll", "groesse": 123456,
//    "sha256": "<64 hex>", "veroeffentlicht": <Unix seconds>,
//    "rampe": [[0, 1], [2, 10], [24, 50], [48, 100]],
//    "zeitstempelschluessel": ["<base64 key>", ...], "ablauf": <Unix seconds>,
//    "zurueckgezogen": ["2.1.0.0"],                       (optional)
//    "patches": [{"basis": "<64 hex: the DLL it starts from>", "url": "https://...",
//                 "groesse": 31337, "sha256": "<64 hex of the patch>"}]}   (optional)
// Timestamp payload:
//   {"art": "zeitstempel", "sequenz": 42, "releasesequenz": 7,
//    "releasesha256": "<64 hex of the whole release file's bytes>", "deckel": 100,
//    "ausgestellt": <Unix seconds>, "ablauf": <Unix seconds>}

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The files' names in the release folder, and their size caps on the wire.
inline constexpr wchar_t kReleaseFileName[] = L"KORVAL-Release.json";
inline constexpr wchar_t kTimestampFileName[] = L"KORVAL-Zeitstempel.json";
inline constexpr std::size_t kMaxReleaseFileBytes = 64 * 1024;
inline constexpr std::size_t kMaxTimestampFileBytes = 4 * 1024;

struct SignedEnvelope {
  std::string payload;                  // exact UTF-8 bytes
  std::vector<std::string> signatures;  // base64 texts
};

struct RampStep {
  int hours = 0;    // since publication
  int percent = 0;  // 0 to 100
  bool operator==(const RampStep&) const = default;
};

// A patch from an earlier build to this release's DLL (zstd, the earlier build as reference).
struct ReleasePatch {
  std::string baseSha256;  // 32 raw bytes: the DLL it starts from
  std::wstring url;
  std::uint64_t size = 0;
  std::string sha256;  // 32 raw bytes: the patch itself
  bool operator==(const ReleasePatch&) const = default;
};

struct ReleaseInfo {
  std::int64_t sequence = 0;
  std::wstring version;  // four dotted parts
  std::wstring url;
  std::uint64_t size = 0;
  std::string sha256;  // 32 raw bytes
  std::int64_t publishedUnix = 0;
  std::vector<RampStep> ramp;  // hours ascending, percent never falling
  std::vector<std::string> timestampKeys;
  std::int64_t expiresUnix = 0;
  std::vector<std::wstring> revoked;
  std::vector<ReleasePatch> patches;
  bool operator==(const ReleaseInfo&) const = default;
};

struct TimestampInfo {
  std::int64_t sequence = 0;
  std::int64_t releaseSequence = 0;
  std::string releaseSha256;  // 32 raw bytes
  int cap = 100;              // percent; 0 halts
  std::int64_t issuedUnix = 0;
  std::int64_t expiresUnix = 0;
  bool operator==(const TimestampInfo&) const = default;
};

// Each raises Exception with a German reason when the text is not such a file.
SignedEnvelope ParseSignedEnvelope(const std::string& bytes);
ReleaseInfo ParseReleasePayload(const std::string& payload);
TimestampInfo ParseTimestampPayload(const std::string& payload);

// The publisher's side: the payload texts, one line each, and the envelope.
std::string FormatReleasePayload(const ReleaseInfo& release);
std::string FormatTimestampPayload(const TimestampInfo& timestamp);
std::string FormatSignedEnvelope(const SignedEnvelope& envelope);

// Answers whether signature (base64) is a valid signature of message by publicKey (base64).
using SignatureCheck = std::function<bool(const std::string& publicKey, const std::string& message,
                                          const std::string& signature)>;

// Whether some signature of the envelope is valid under one of keys.
bool SignedByOneOf(const SignedEnvelope& envelope, const std::vector<std::string>& keys,
                   const SignatureCheck& check);

// The keys a timestamp may be signed by: the pinned release keys, and the timestamp keys of a
// release file (when there is one) whose signature by one of them holds. A changed release file
// thus brings no keys of its own.
std::vector<std::string> TimestampSigners(const std::optional<std::string>& releaseFile,
                                          const std::vector<std::string>& releaseKeys,
                                          const SignatureCheck& check);

// Whether the release revokes `version` (never its own version).
bool IsRevoked(const ReleaseInfo& release, const std::wstring& version);

// What the host keeps of the last verified files (see ServiceRecords).
struct ReleaseState {
  std::int64_t timestampSequence = 0;  // 0: none verified yet
  std::int64_t releaseSequence = 0;
  std::string releaseSha256;  // 32 raw bytes; empty: none
};

// Why a file is refused: every text names the attack the check stops.
struct Refusal {
  std::wstring reason;
};

// The timestamp's checks in order: size, signature by an allowed key (the release's timestamp
// keys and the pinned release keys), sequence not below the stored one, not expired. Answers the
// timestamp or the refusal.
struct TimestampVerdict {
  std::optional<TimestampInfo> timestamp;
  std::optional<Refusal> refusal;
};
TimestampVerdict CheckTimestamp(const std::string& bytes, const std::vector<std::string>& keys,
                                const ReleaseState& stored, std::int64_t nowUnix,
                                const SignatureCheck& check);

// The release file's checks in order: size, SHA-256 equal to the timestamp's, signature by a
// pinned release key, sequence not below the stored one (nor the timestamp's), not expired.
// The version's check against the installed copies is the caller's (see RevokedOrOlder).
struct ReleaseVerdict {
  std::optional<ReleaseInfo> release;
  std::optional<Refusal> refusal;
};
ReleaseVerdict CheckRelease(const std::string& bytes, const TimestampInfo& timestamp,
                            const std::vector<std::string>& releaseKeys, const ReleaseState& stored,
                            std::int64_t nowUnix, const SignatureCheck& check);

// Splits "key1;key2" (blanks around each ignored); raises Exception for more than two or an entry
// that is no base64 text of a 64-byte key.
std::vector<std::string> ParseReleaseKeys(const std::wstring& text);

struct ServiceRecords;

// The frozen-server facts for the status and the metrics.
struct ReleaseFreshness {
  bool active = false;              // a release key is pinned
  bool frozen = false;              // no valid timestamp for longer than its expiry
  std::int64_t missingSeconds = 0;  // how long no valid timestamp was had; 0 while one is
  std::int64_t behind = 0;          // releases behind the newest verified
  bool operator==(const ReleaseFreshness&) const = default;
};

// Frozen when no valid timestamp is had now and the last one has expired; when none was ever
// verified, once the first miss lies a day back. Behind: the releases since the one installed
// here, at least 1 while the installed copies are not the release's version.
ReleaseFreshness JudgeFreshness(const ServiceRecords& records, bool validNow,
                                bool installedIsCurrent, std::int64_t nowUnix);
