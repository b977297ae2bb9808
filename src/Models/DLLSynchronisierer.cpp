#include "Models/DLLSynchronisierer.h"

#include "Models/AppPoolRecycler.h"
#include "Services/EventSink.h"
#include "core/DateTimeFormat.h"
#include "platform/LogFileStore.h"

namespace {
const wchar_t kKonfigurationsDatei[] = L"KORVAL_Update_Service.ini";
}

// A failing LadeFelder leaves the constructor: the members made so far are freed again and
// nothing has been logged or written.
TDLLSynchronisierer::TDLLSynchronisierer(const EnginePlatform& platform) : platform_(platform) {
  FDLLKonfiguration = std::make_unique<TDLLKonfiguration>(
      platform_.programFolder + kKonfigurationsDatei, *platform_.profiles, platform_.programFolder,
      platform_.regional.decimalSeparator);
  FDLLKonfiguration->LadeFelder();
  runLogFile_.SetGenerations(FDLLKonfiguration->ProtokollGenerationen());
}

// The file keeps what the last successful write put into it.
TDLLSynchronisierer::~TDLLSynchronisierer() {
  FProtokollListe.clear();
  FDLLKonfiguration.reset();
}

void TDLLSynchronisierer::SetzeProtokollEintrag(const std::wstring& AEintrag) {
  if (AEintrag.rfind(L"Fehler", 0) == 0) FFehlerImZyklus = true;
  LocalTime jetzt = platform_.clock->Now();
  FProtokollListe.push_back(FormatTimeStamp(jetzt, platform_.regional) + L": " + AEintrag);
  SpeichereProtokoll();
  if (platform_.protokollEcho) {
    try {
      platform_.protokollEcho(FProtokollListe.back());
    } catch (...) {
    }
  }
}

// The run log must never disturb the operation that logs: a write that fails is skipped without
// a trace, and the next entry writes the complete list again.
void TDLLSynchronisierer::SpeichereProtokoll() {
  try {
    runLogFile_.Save(*platform_.logFiles, *platform_.codec, FDLLKonfiguration->Protokollpfad(),
                     FProtokollListe);
    FProtokollVerweigert = false;
  } catch (const LinkedFileRefused& e) {
    // Said once in the event log, not at every line; the run log stays in memory.
    if (!FProtokollVerweigert && platform_.events) {
      platform_.events->ReportError(platform_.eventSource, e.Message());
    }
    FProtokollVerweigert = true;
  } catch (...) {
  }
}

// A failure is its line, then "Ursache: " and the reason on one line of its own, whatever line
// breaks the platform's text holds.
void TDLLSynchronisierer::MeldeFehler(const std::wstring& zeile, const std::wstring& ursache) {
  SetzeProtokollEintrag(zeile);
  std::wstring einzeilig;
  for (wchar_t c : ursache) {
    if (c == L'\r') continue;
    einzeilig += c == L'\n' ? L' ' : c;
  }
  SetzeProtokollEintrag(L"Ursache: " + (einzeilig.empty() ? L"Unbekannter Fehler" : einzeilig));
}
