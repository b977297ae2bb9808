#include "support/FakeShell.h"

#include "core/ServerRefusal.h"

namespace {
// The answer of a server with ranges to a request from askedFrom: its status and Content-Range.
std::pair<int, std::wstring> RangeAnswerOf(const FakeDownloader& d, const PartialRecord& asked,
                                           const std::string& body, const std::wstring& etag) {
  if (asked.held == 0) return {200, L""};
  const int status = d.rangeStatus.value_or(
      d.servesRanges && !etag.empty() && etag == asked.etag && asked.held < body.size() ? 206
                                                                                        : 200);
  if (status != 206) return {status, L""};
  return {206, d.contentRange.value_or(L"bytes " + std::to_wstring(asked.held) + L"-" +
                                       std::to_wstring(body.size() - 1) + L"/" +
                                       std::to_wstring(body.size()))};
}
}  // namespace

void FakeDownloader::Download(const std::wstring& url, const std::wstring& file,
                              const DownloadLimits& limits, PartialTransfer& partial) {
  requests.push_back(url + L" -> " + file);
  lastLimits = limits;
  PartialRecord& record = partial.record;
  partial.startedOver = false;
  // Like the real downloader: a partial file shorter than its record is not gone on from.
  auto existing = files_.files.find(file);
  if (existing == files_.files.end() || existing->second.size() < record.held) record.held = 0;
  askedFrom.push_back(record.held);
  if (failure) throw Exception(*failure);
  if (refusal) throw ServerRefusal(refusal->first, refusal->second, url);
  std::uint64_t now = 0;
  DownloadGuard guard(url, limits, now);
  std::wstring current = url;
  for (auto next = redirects.find(current); next != redirects.end();
       next = redirects.find(current)) {
    if (auto reason = guard.OnRedirect(next->second)) throw Exception(*reason);
    current = next->second;
  }
  auto body = bodies.find(current);
  if (body == bodies.end() || !files_.DirectoryExists(ParentFolder(file))) return;
  const std::string& bytes = body->second;
  auto tag = etags.find(current);
  const std::wstring etag = tag == etags.end() ? L"" : tag->second;
  const auto [status, range] = RangeAnswerOf(*this, record, bytes, etag);
  switch (JudgeRangeAnswer(record.held, record.total, status, range)) {
    case RangeAnswer::Refused:
      record.held = 0;
      if (status == 416) throw ServerRefusal(416, L"", current);
      throw Exception(RefusedRangeText(range));
    case RangeAnswer::LeavesPartial:
      throw ServerRefusal(status, L"", current);
    case RangeAnswer::StartOver:
      partial.startedOver = record.held > 0;
      record = PartialRecord{record.url, etag, record.total ? record.total : bytes.size(), 0};
      break;
    case RangeAnswer::Continue:
      guard.CountHeld(record.held);
      break;
  }
  const std::string kept = files_.files[file].substr(0, record.held);
  const std::string rest = bytes.substr(record.held);
  auto claimed = claimedSizes.find(current);
  const std::uint64_t size =
      (claimed == claimedSizes.end() ? bytes.size() : claimed->second) - record.held;
  std::size_t sent = 0;
  for (int chunk = 1; chunk <= chunks; ++chunk) {
    now += millisecondsPerChunk;
    const std::string arrived = rest.substr(0, rest.size() * chunk / chunks);
    bytesServed += arrived.size() - sent;
    sent = arrived.size();
    files_.files[file] = kept + arrived;
    record.held = kept.size() + arrived.size();
    if (auto reason = guard.OnProgress(size * chunk / chunks, 0, now)) throw Exception(*reason);
    if (afterChunk) afterChunk(chunk);
    if (cutAfterChunk == chunk) throw Exception(L"Die Verbindung wurde getrennt.");
  }
  if (auto reason = guard.OnFinished(size, now)) throw Exception(*reason);
}

namespace {
class FakeProcess : public LaunchedProcess {
 public:
  FakeProcess(std::vector<std::wstring>& timeline, std::wstring name, bool ends, std::uint32_t code)
      : timeline_(timeline), name_(std::move(name)), ends_(ends), code_(code) {}
  bool WaitForExit(unsigned milliseconds) override {
    timeline_.push_back(L"wait " + std::to_wstring(milliseconds) + L" " + name_);
    return ends_;
  }
  std::optional<std::uint32_t> ExitCode() override {
    if (!ends_) return std::nullopt;
    return code_;
  }

 private:
  std::vector<std::wstring>& timeline_;
  std::wstring name_;
  bool ends_;
  std::uint32_t code_;
};
}  // namespace

std::unique_ptr<LaunchedProcess> FakeProcessLauncher::Launch(const std::wstring& verb,
                                                             const std::wstring& file,
                                                             const std::wstring& parameters,
                                                             const std::wstring& directory,
                                                             int showCommand) {
  if (fail) throw Exception(L"Der Vorgang wurde vom Benutzer abgebrochen");
  launches.push_back({verb, file, parameters, directory, showCommand});
  timeline_.push_back(L"launch " + parameters);
  std::uint32_t code = 0;
  auto scripted = exitCodes.find(parameters);
  if (scripted != exitCodes.end() && !scripted->second.empty()) {
    code = scripted->second.front();
    scripted->second.pop_front();
  }
  // appcmd's codes for "stopped already" and "runs already" leave the site in that state.
  if ((code == 0 || code == 1062) && parameters.find(L" stop site ") != std::wstring::npos) {
    siteRunning = false;
  }
  if ((code == 0 || code == 1056) && processEnds &&
      parameters.find(L" start site ") != std::wstring::npos) {
    siteRunning = true;
  }
  if (afterLaunch) afterLaunch();
  return std::make_unique<FakeProcess>(timeline_, parameters, processEnds, code);
}
