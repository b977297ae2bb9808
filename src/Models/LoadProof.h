#pragma once
// The proof that the site runs the new DLL: after the switch, no process of the host may still
// map an old copy of a target (the file it replaced, now a backup). Only then is the update in
// effect; the status page is asked after it, so that it judges the new code.

#include <string>
#include <vector>

#include "core/LoadedCopies.h"

class Clock;
class LoadedModules;
class OutcomeSink;
class RunLogLines;

class LoadProof {
 public:
  // targets: the configured target DLLs. modules null: nothing can be proven, and no exchange
  // counts as in effect. A proof that fails is reported for version (may be null).
  LoadProof(LoadedModules* modules, Clock& clock, RunLogLines& log,
            std::vector<std::wstring> targets, OutcomeSink* outcomes, std::wstring version);

  // Right before the swaps: the identity of every target as it is (the old files); or of the
  // files at paths (the backups of an exchange that is finished later).
  void NoteOldFiles();
  void NoteOldFiles(const std::vector<std::wstring>& paths);
  // After the swaps: the identity of every target now (the new set).
  void NoteNewFiles();

  // Looks until no process maps an old copy or waitMs have passed (at least one look). Answers
  // the processes of the last look; logs each of them when it is not empty. LookFailed() tells a
  // look that could not be made.
  std::vector<OldCopyHolder> Look(unsigned waitMs);
  bool LookFailed() const { return !failure_.empty(); }
  // Look, with the failure line and its reason (and the outcome) when an old copy stays or
  // nothing could be seen.
  bool Prove(unsigned waitMs);
  // The failure line with its reason and the outcome, for holders already looked at; false.
  bool Refuse(const std::wstring& reason, const std::vector<OldCopyHolder>& holders);
  // Reports the update as not in effect: the reason, then the processes with an old copy.
  void ReportNotInEffect(const std::wstring& reason, const std::vector<OldCopyHolder>& holders);

 private:
  std::vector<MappedFileId> Identities(const std::vector<std::wstring>& paths);
  std::vector<OldCopyHolder> LookOnce();

  LoadedModules* modules_;
  Clock& clock_;
  RunLogLines& log_;
  OutcomeSink* outcomes_;
  std::wstring version_;
  CopyIdentities copies_;
  std::wstring failure_;
};
