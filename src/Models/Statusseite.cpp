// The optional status page: asked once before the stop and, after the start, until it answers
// 2xx or the wait time has passed. An update that turns a healthy site into a broken one is
// rolled back; one that finds the site broken already keeps the new DLL.

#include "Models/DLLSynchronisierer.h"
#include "core/Exception.h"
#include "core/Url.h"
#include "platform/OutcomeSink.h"
#include "platform/HttpTransport.h"

namespace {
constexpr unsigned kStatusPauseMs = 5000;
// A status page is small; one larger than this counts as not answering.
constexpr std::size_t kMaxStatusBodyBytes = 1024 * 1024;
}  // namespace

bool TDLLSynchronisierer::FrageStatusseite(std::wstring& befund) {
  try {
    if (platform_.statusHttp == nullptr) throw Exception(L"Kein HTTP-Client verfügbar");
    std::unique_ptr<HttpSession> client = platform_.statusHttp->Create();
    const HttpResponse antwort =
        client->Get(ParseUrl(DLLKonfiguration().Statusseite()), kMaxStatusBodyBytes);
    const bool gesund = antwort.status >= 200 && antwort.status <= 299;
    befund = std::wstring(gesund ? L"erreichbar" : L"nicht erreichbar") + L" (Status " +
             std::to_wstring(antwort.status) + L").";
    return gesund;
  } catch (const Exception& e) {
    befund = L"nicht erreichbar (" + e.Message() + L").";
    return false;
  }
}

bool TDLLSynchronisierer::PruefeStatusNachUpdate(bool gesundVorher) {
  Clock& clock = *platform_.clock;
  const std::int32_t sekunden = DLLKonfiguration().StatusWartezeit();
  const std::uint64_t ende =
      clock.TickMilliseconds() + (sekunden > 0 ? static_cast<std::uint64_t>(sekunden) * 1000 : 0);
  std::wstring befund;
  while (!FrageStatusseite(befund)) {
    if (clock.TickMilliseconds() >= ende) {
      SetzeProtokollEintrag(L"Fehler bei der Prüfung der Statusseite: nach " +
                            std::to_wstring(sekunden) + L" Sekunden " + befund);
      if (!gesundVorher) {
        SetzeProtokollEintrag(
            L"Die Statusseite war schon vor dem Austausch nicht erreichbar; die neue DLL bleibt.");
        return true;
      }
      return NimmUpdateZurueck(befund);
    }
    clock.Wait(kStatusPauseMs);
  }
  SetzeProtokollEintrag(L"Statusseite nach dem Neustart: " + befund);
  return true;
}

// Stops the site again, puts every copy back from its backup and starts it; the journal marks the
// rollback first, so that an interruption finishes it instead of keeping the broken DLL.
bool TDLLSynchronisierer::NimmUpdateZurueck(const std::wstring& befundNachher) {
  if (FRecycler) return NimmRecycleNachStatusseiteZurueck(befundNachher);
  SetzeProtokollEintrag(L"Nehme das Update zurück.");
  VermerkeImJournal(JournalStep::RollbackBegun);
  HalteSiteAn(FPlan.site, FPlan.pool);
  VermerkeImJournal(JournalStep::Stopped);
  const bool alleZurueck = StelleWiederHer(FPlan, FPlan.entries.size());
  if (alleZurueck) VermerkeImJournal(JournalStep::RolledBack);
  FAustauschGelungen = false;
  MerkeZurueckgenommeneVersion();
  if (platform_.outcomes) {
    platform_.outcomes->Report(Outcome::RolledBackAfterStatusPage, {FOnlineVersion, befundNachher});
  }
  if (!StarteSiteUndVermerke(kStartVersuche)) return false;
  if (!alleZurueck) {
    // The site runs with what could be had; the journal stays, and every tick goes on.
    SetzeProtokollEintrag(kRuecknahmeBleibtOffen);
    return false;
  }
  std::wstring befund;
  FrageStatusseite(befund);
  SetzeProtokollEintrag(L"Statusseite nach der Rücknahme: " + befund);
  return true;
}
