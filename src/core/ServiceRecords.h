#pragma once
// What the service keeps between cycles, in one small file of its protected download folder:
// a plain text of "KEY=value" lines under a header, written whole and atomically. It is read back
// with suspicion: a line that does not parse, or a value that does not fit its key, is ignored and
// named, never acted on.

#include <cstdint>
#include <string>
#include <vector>

// Why a build was set aside after it had been tried.
enum class RejectionCause { StatusPage, LoadProbe, Recycle };

struct ServiceRecords {
  // A version that was installed and then taken back because the status page failed with it,
  // and the SHA-256 (64 lower-case hex digits) of that DLL. Empty: none.
  std::wstring rejectedVersion;
  std::string rejectedSha256;
  // The published version this host first saw at seenSinceUnix (Unix seconds), for the update
  // ring. Empty: none.
  std::wstring seenVersion;
  std::int64_t seenSinceUnix = 0;
  // The server ("scheme://host:port") that asked with a Retry-After to be left alone until
  // pauseUntilUnix (Unix seconds). Empty: none.
  std::wstring pausedServer;
  std::int64_t pauseUntilUnix = 0;
  // Of the rejected build: why it failed, how often in a row, and when last (Unix seconds). A
  // file of an older service holds none of them (0): that build failed once, at a time unknown.
  RejectionCause rejectedCause = RejectionCause::StatusPage;
  int rejectedFailures = 0;
  std::int64_t rejectedAtUnix = 0;

  // The signed release files last verified: the timestamp's and the release file's sequence,
  // the release file's SHA-256 (64 lower-case hex digits), the timestamp's cap in percent, and
  // until when that timestamp is valid (Unix seconds). 0 / empty: none verified yet.
  std::int64_t timestampSequence = 0;
  std::int64_t releaseSequence = 0;
  std::string releaseSha256;
  std::int64_t rolloutCap = 100;
  std::int64_t timestampValidUntilUnix = 0;
  // When a valid timestamp was first missed while none had ever been verified (Unix seconds), and
  // when the warning about a frozen server was last given; 0: never.
  std::int64_t timestampMissingSinceUnix = 0;
  std::int64_t frozenWarnedUnix = 0;
  // The release sequence whose version was last installed here; 0: none.
  std::int64_t installedReleaseSequence = 0;
  // The ETag and Last-Modified of the timestamp last verified: the next fetch asks only for a
  // changed one. Empty: none.
  std::wstring timestampEtag;
  std::wstring timestampLastModified;
  // The last version text fetched, from which address (its SHA-256 in hex), with its ETag and
  // Last-Modified: the next check asks only for a changed text, and a 304 means this one stands.
  std::wstring versionText;
  std::string versionSource;
  std::wstring versionEtag;
  std::wstring versionLastModified;

  bool operator==(const ServiceRecords&) const = default;
};

// The file's name in the download folder.
inline constexpr wchar_t kServiceRecordsFileName[] = L"Aufzeichnungen.txt";

std::string FormatServiceRecords(const ServiceRecords& records);

struct ParsedServiceRecords {
  ServiceRecords records;
  // One text per line or value that was ignored, saying why (German, for the run log).
  std::vector<std::wstring> ignored;
};

// Never raises. A file without the header yields no records and one ignored text.
ParsedServiceRecords ParseServiceRecords(const std::string& bytes);

// Whether text is a SHA-256 as the records keep it.
bool IsSha256Hex(const std::string& text);
// 32 raw bytes as 64 lower-case hex digits.
std::string ToHex(const std::string& bytes);
// The other way: hex digits (an even number of them) as raw bytes.
std::string FromHex(const std::string& hex);
