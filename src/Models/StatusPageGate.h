#pragma once
// The optional status page: asked once before the stop and, after the start, until it answers
// 2xx or the wait time has passed. An update that turns a healthy site into a broken one must be
// rolled back; one that finds the site broken already keeps the new DLL.

#include <optional>
#include <string>

class Clock;
class HttpClientFactory;
class RunLogLines;

class StatusPageGate {
 public:
  // url empty: no status page, the gate lets everything pass.
  StatusPageGate(HttpClientFactory* http, Clock& clock, std::wstring url, int waitSeconds,
                 RunLogLines& log);

  bool Enabled() const { return !url_.empty(); }
  // Asks the page once; true for 2xx. finding gets the text that the run log shows.
  bool Ask(std::wstring& finding);
  // Before the stop: asks once and logs the finding; remembers whether the site was healthy.
  void BeforeExchange();
  // After the start: asks until healthy or the wait time has passed. Answers the finding that
  // makes the update go back, or nothing when it stays.
  std::optional<std::wstring> AfterStart();

 private:
  HttpClientFactory* http_;
  Clock& clock_;
  std::wstring url_;
  int waitSeconds_;
  RunLogLines& log_;
  bool healthyBefore_ = false;
};
