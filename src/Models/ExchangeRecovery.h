#pragma once
// Finishes an exchange that a crash, a power cut or a site that would not start left behind (its
// journal is still in the download folder): every copy old or every copy new, the site started,
// the journal and the leftovers removed, each step logged. A journal that another account could
// have written, or that does not fit the configuration, is set aside and nothing in it touched.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Models/EnginePlatform.h"
#include "core/ExchangeJournal.h"

// The line of a journal that exists but cannot be read now: the next tick reads it again.
extern const wchar_t* const kJournalBleibt;

class AppPoolRecycler;
class DllExchange;
class JournalFile;
class RunLogLines;
class SiteControl;
class StopStartSwitch;
class TDLLKonfiguration;
struct OwnedFile;

class ExchangeRecovery {
 public:
  struct Units {
    RunLogLines& log;
    JournalFile& journal;
    DllExchange& exchange;
    SiteControl& site;
    // A recycler of the configured site's pools, not yet surveyed.
    std::function<std::unique_ptr<AppPoolRecycler>()> newRecycler;
    // The exchange is over and the site runs: the journal and the leftovers go.
    std::function<void(bool newSet)> close;
    // Proves and holds the site folders (false, logged, when one is not the service's).
    std::function<bool()> proveSiteFolders;
  };

  ExchangeRecovery(const EnginePlatform& platform, const TDLLKonfiguration& konfiguration,
                   Units units);

  // Without a journal it only removes leftovers of earlier exchanges. Answers whether no
  // unfinished exchange is left; while one is, no new exchange may begin. Never raises.
  bool Finish();
  // Whether an unfinished exchange waits: its journal is there, or the site start after a
  // refused journal has not succeeded yet.
  bool Open();

 private:
  std::optional<std::wstring> Refusal(const OwnedFile& file, const JournalState& state);
  std::wstring RefusedJournalPath();
  bool Refuse(const std::wstring& reason);
  bool StartAfterRefusal();
  bool Follow(const JournalState& state, bool recycle);
  bool RecycleAfterRestore();
  bool RecycleOldWorkers(const ExchangePlan& plan, StopStartSwitch& stopStart);

  const EnginePlatform& platform_;
  const TDLLKonfiguration& konfiguration_;
  Units units_;
  bool startAfterRefusalOpen_ = false;
};
