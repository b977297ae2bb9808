#include "support/FakeShell.h"

#include "core/ServerRefusal.h"

void FakeDownloader::Download(const std::wstring& url, const std::wstring& file,
                              const DownloadLimits& limits) {
  requests.push_back(url + L" -> " + file);
  lastLimits = limits;
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
  auto claimed = claimedSizes.find(current);
  const std::uint64_t size = claimed == claimedSizes.end() ? bytes.size() : claimed->second;
  for (int chunk = 1; chunk <= chunks; ++chunk) {
    now += millisecondsPerChunk;
    files_.files[file] = bytes.substr(0, bytes.size() * chunk / chunks);
    if (auto reason = guard.OnProgress(size * chunk / chunks, 0, now)) throw Exception(*reason);
    if (afterChunk) afterChunk(chunk);
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
