#pragma once
// Fakes of the downloader and the process launcher that write into a FakeFileSystem and the
// shared timeline.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Downloader.h"
#include "platform/ProcessLauncher.h"
#include "support/FakeFileSystem.h"

// Serves bodies by URL: the body is saved whatever it is, and a missing folder "succeeds" without
// a file (the engine must verify what it got). Redirects are followed and the body arrives in
// chunks, each reported to a DownloadGuard like the real reader does; a transfer the guard ends
// leaves the bytes so far in the file and raises the guard's reason; `refusal` answers a status
// other than 2xx as the real downloader raises it. A request for the rest of a partial file is
// answered as a server with ranges does (a 206 when its If-Range is the body's ETag, else the
// whole body) and judged by the core's rule, like the real downloader does.
class FakeDownloader : public Downloader {
 public:
  explicit FakeDownloader(FakeFileSystem& files) : files_(files) {}
  void Download(const std::wstring& url, const std::wstring& file, const DownloadLimits& limits,
                PartialTransfer& partial) override;

  std::map<std::wstring, std::string> bodies;
  std::map<std::wstring, std::wstring> redirects;  // address -> the next address
  // A body's size as the progress reports give it, when it should pass for a larger one.
  std::map<std::wstring, std::uint64_t> claimedSizes;
  // The ETag sent with a body; a body not named here is sent without one.
  std::map<std::wstring, std::wstring> etags;
  bool servesRanges = true;  // false: a request for the rest gets the whole body (200)
  // Answered to a request for the rest instead: another status (416), another Content-Range.
  std::optional<int> rangeStatus;
  std::optional<std::wstring> contentRange;
  std::optional<int> cutAfterChunk;           // the connection is lost after this chunk (raises)
  int chunks = 4;                             // progress reports per body
  unsigned millisecondsPerChunk = 1;          // fake time each chunk takes
  std::function<void(int chunk)> afterChunk;  // e.g. a stop request arriving mid-transfer
  std::optional<std::wstring> failure;        // raised as Exception
  // Answered instead of the body: a status other than 2xx and its Retry-After.
  std::optional<std::pair<int, std::wstring>> refusal;
  std::vector<std::wstring> requests;    // "url -> file"
  std::vector<std::uint64_t> askedFrom;  // per request, the byte asked from (0: the whole file)
  std::uint64_t bytesServed = 0;         // body bytes sent, over all requests
  DownloadLimits lastLimits;

 private:
  FakeFileSystem& files_;
};

struct Launch {
  std::wstring verb, file, parameters, directory;
  int showCommand = -1;
};

class FakeProcessLauncher : public ProcessLauncher {
 public:
  explicit FakeProcessLauncher(std::vector<std::wstring>& timeline) : timeline_(timeline) {}
  std::unique_ptr<LaunchedProcess> Launch(const std::wstring& verb, const std::wstring& file,
                                          const std::wstring& parameters,
                                          const std::wstring& directory, int showCommand) override;

  std::vector<::Launch> launches;
  bool fail = false;
  bool processEnds = true;  // what WaitForExit answers
  // Exit codes by parameters, one per launch in order; 0 when none is left.
  std::map<std::wstring, std::deque<std::uint32_t>> exitCodes;
  // Whether the site serves: a site stop ends it unless it fails, a site start brings it back
  // only when it ends with 0.
  bool siteRunning = true;
  std::function<void()> afterLaunch;

 private:
  std::vector<std::wstring>& timeline_;
};
