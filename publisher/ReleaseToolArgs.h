#pragma once
// The command line of KORVAL_Release_Tool, read into one request per command. Portable: the
// tool's entry hands in the arguments, the native unit tests a table.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/Exception.h"
#include "core/ReleaseFiles.h"

// A command line the tool does not understand; the message says what is wrong (German).
class UsageError : public Exception {
 public:
  using Exception::Exception;
};

// schluessel: a new key pair.
struct KeyPairRequest {
  std::wstring privateKeyFile;
  std::wstring publicKeyFile;
  bool operator==(const KeyPairRequest&) const = default;
};

// release: the signed release file for a DLL.
struct ReleaseRequest {
  std::wstring releaseKeyFile;
  std::wstring dllFile;
  std::wstring dllUrl;
  std::wstring folder;
  std::optional<std::int64_t> sequence;  // default: the existing release file's + 1
  std::vector<RampStep> ramp;
  std::vector<std::wstring> timestampKeyFiles;
  int expiryWeeks = 8;  // from publication
  std::vector<std::wstring> revoked;
  std::optional<std::int64_t> publishedUnix;  // default: now
  std::optional<std::wstring> nextKeyFile;    // signs as well, for a key change
  // Earlier builds a patch is made from, and the folder URL the patches are published at
  // (default: the DLL URL's folder and "patches/").
  std::vector<std::wstring> patchFrom;
  std::wstring patchUrl;
  bool operator==(const ReleaseRequest&) const = default;
};

// zeitstempel, anhalten and fortsetzen: a signed timestamp for the release file in folder.
struct TimestampRequest {
  std::wstring timestampKeyFile;
  std::wstring folder;
  std::optional<int> cap;  // zeitstempel: default the existing timestamp's, else 100
  int expiryHours = 24;    // from the time it is signed
  std::optional<std::int64_t> issuedUnix;  // default: now
  bool operator==(const TimestampRequest&) const = default;
};

// pruefen: the folder's files verified as a host verifies them.
struct CheckRequest {
  std::wstring folder;
  std::wstring releaseKeys;  // "current;next", as a host's RELEASESCHLUESSEL holds them
  std::optional<std::wstring> machineIdentity;
  std::optional<std::wstring> installedVersion;  // given together with machineIdentity
  // What the host has already seen (0: nothing): a file older than that is a replay.
  std::int64_t knownTimestampSequence = 0;
  std::int64_t knownReleaseSequence = 0;
  bool operator==(const CheckRequest&) const = default;
};

using ToolRequest = std::variant<KeyPairRequest, ReleaseRequest, TimestampRequest, CheckRequest>;

// The arguments without the program's name. Raises UsageError for an unknown command or option,
// a missing or surplus argument, an option given twice, or a value that does not fit.
ToolRequest ParseToolCommandLine(const std::vector<std::wstring>& arguments);

// "0:1,2:10,24:50,48:100": hours since publication and percent, hours rising, percent never
// falling, as a host accepts a ramp. Raises UsageError otherwise.
std::vector<RampStep> ParseRamp(const std::wstring& text);

// The usage text, one line per element.
std::vector<std::wstring> UsageLines();
