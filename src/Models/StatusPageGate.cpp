#include "Models/StatusPageGate.h"

#include <memory>

#include "Models/RunLog.h"
#include "core/Exception.h"
#include "core/Url.h"
#include "platform/Clock.h"
#include "platform/HttpTransport.h"

namespace {
constexpr unsigned kStatusPauseMs = 5000;
// A status page is small; one larger than this counts as not answering.
constexpr std::size_t kMaxStatusBodyBytes = 1024 * 1024;
}  // namespace

StatusPageGate::StatusPageGate(HttpClientFactory* http, Clock& clock, std::wstring url,
                               int waitSeconds, RunLogLines& log)
    : http_(http), clock_(clock), url_(std::move(url)), waitSeconds_(waitSeconds), log_(log) {}

bool StatusPageGate::Ask(std::wstring& finding) {
  try {
    if (http_ == nullptr) throw Exception(L"Kein HTTP-Client verfügbar");
    std::unique_ptr<HttpSession> client = http_->Create();
    const HttpResponse answer = client->Get(ParseUrl(url_), kMaxStatusBodyBytes);
    const bool healthy = answer.status >= 200 && answer.status <= 299;
    finding = std::wstring(healthy ? L"erreichbar" : L"nicht erreichbar") + L" (Status " +
              std::to_wstring(answer.status) + L").";
    return healthy;
  } catch (const Exception& e) {
    finding = L"nicht erreichbar (" + e.Message() + L").";
    return false;
  }
}

void StatusPageGate::BeforeExchange() {
  healthyBefore_ = false;
  if (!Enabled()) return;
  std::wstring finding;
  healthyBefore_ = Ask(finding);
  log_.Log(L"Statusseite vor dem Austausch: " + finding);
}

std::optional<std::wstring> StatusPageGate::AfterStart() {
  if (!Enabled()) return std::nullopt;
  const std::uint64_t end =
      clock_.TickMilliseconds() +
      (waitSeconds_ > 0 ? static_cast<std::uint64_t>(waitSeconds_) * 1000 : 0);
  std::wstring finding;
  while (!Ask(finding)) {
    if (clock_.TickMilliseconds() >= end) {
      log_.Log(L"Fehler bei der Prüfung der Statusseite: nach " + std::to_wstring(waitSeconds_) +
               L" Sekunden " + finding);
      if (!healthyBefore_) {
        log_.Log(L"Die Statusseite war schon vor dem Austausch nicht erreichbar; die neue DLL "
                 L"bleibt.");
        return std::nullopt;
      }
      return finding;
    }
    clock_.Wait(kStatusPauseMs);
  }
  log_.Log(L"Statusseite nach dem Neustart: " + finding);
  return std::nullopt;
}
