#include "core/ExchangeJournal.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>

#include "core/Exception.h"
#include "core/PathNames.h"
#include "core/SiteCommands.h"
#include "core/UnicodeDecoding.h"

namespace {

constexpr std::size_t kHeaderBytes = 8;
constexpr std::uint32_t kMaxRecordBytes = 1u << 20;
// Paths hold no control characters, so tabs and line feeds can separate the fields.
const char kFieldSeparator = '\t';
const char kLineSeparator = '\n';

void PutUint32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::uint32_t GetUint32(const std::string& in, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[at + i]);
  return value;
}

std::uint32_t Crc32(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// A record that passed its checksum was written by us: its text is valid UTF-8.
std::wstring FromUtf8(const std::string& bytes) {
  try {
    return DecodeUtf8(bytes);
  } catch (const Exception&) {
    return std::wstring();
  }
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  for (;;) {
    std::size_t end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) return parts;
    begin = end + 1;
  }
}

const char* StepName(JournalStep step) {
  switch (step) {
    case JournalStep::Stopped:
      return "GESTOPPT";
    case JournalStep::Swapped:
      return "GETAUSCHT";
    case JournalStep::RollbackBegun:
      return "RUECKNAHME";
    case JournalStep::RolledBack:
      return "ZURUECKGESTELLT";
    case JournalStep::Started:
      return "GESTARTET";
    case JournalStep::SwitchBegun:
      return "UMSCHALTUNG";
    case JournalStep::SwitchEnded:
      return "UMGESCHALTET";
  }
  return "";
}

std::optional<ExchangePlan> ParsePlan(const std::string& payload) {
  std::vector<std::string> lines = Split(payload, kLineSeparator);
  if (lines.size() < 4 || lines[0] != "PLAN") return std::nullopt;
  ExchangePlan plan;
  plan.generation = FromUtf8(lines[1]);
  plan.site = FromUtf8(lines[2]);
  plan.pool = FromUtf8(lines[3]);
  for (std::size_t i = 4; i < lines.size(); ++i) {
    std::vector<std::string> fields = Split(lines[i], kFieldSeparator);
    if (fields.size() != 5) return std::nullopt;
    plan.entries.push_back({FromUtf8(fields[0]), FromUtf8(fields[1]), FromUtf8(fields[2]),
                            FromUtf8(fields[3]), fields[4] == "1"});
  }
  return plan;
}

constexpr std::size_t kSequenceDigits = 8;
constexpr std::size_t kTimeDigits = 17;

bool AllDigits(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return !text.empty();
}

// A text from the journal as the run log may show it: no control characters, not too long.
std::wstring Shown(const std::wstring& text) {
  std::wstring shown;
  for (wchar_t c : text.substr(0, 260)) shown += (c < 0x20 || c == 0x7F) ? L'?' : c;
  return L"\"" + shown + (text.size() > 260 ? L"...\"" : L"\"");
}

std::optional<std::wstring> NameRefusal(const ExchangePlan& plan,
                                        const JournalExpectations& expected) {
  if (!IsSafeSiteName(plan.site) || !IsSafeSiteName(plan.pool)) {
    return L"Der Name der Site oder des Anwendungspools enthält unzulässige Zeichen.";
  }
  if (plan.site != expected.site) {
    return L"Die Site " + Shown(plan.site) + L" ist nicht die konfigurierte Site " +
           Shown(expected.site) + L".";
  }
  if (plan.pool != expected.pool) {
    return L"Der Anwendungspool " + Shown(plan.pool) + L" ist nicht der konfigurierte " +
           Shown(expected.pool) + L".";
  }
  if (!IsGeneration(plan.generation)) {
    return L"Die Generation " + Shown(plan.generation) + L" ist ungültig.";
  }
  return std::nullopt;
}

}  // namespace

ExchangeEntry PlannedEntry(const std::wstring& target, const std::wstring& generation,
                           std::size_t index, bool hadOriginal) {
  const std::wstring stem = target + L"." + generation + L"-" + std::to_wstring(index);
  return {target, stem + kStagedSuffix, stem + kBackupSuffix, stem + kDiscardedSuffix, hadOriginal};
}

std::wstring MakeGeneration(std::uint32_t sequence, const std::wstring& utcDigits) {
  std::wstring number = std::to_wstring(std::min(sequence, kLastGenerationSequence));
  return std::wstring(kSequenceDigits - number.size(), L'0') + number + L"_" + utcDigits;
}

std::uint32_t NextGenerationSequence(std::uint32_t highest) {
  return highest >= kLastGenerationSequence ? kLastGenerationSequence : highest + 1;
}

bool IsGeneration(const std::wstring& text) {
  if (text.size() == kTimeDigits) return AllDigits(text);
  return text.size() == kSequenceDigits + 1 + kTimeDigits && text[kSequenceDigits] == L'_' &&
         AllDigits(text.substr(0, kSequenceDigits)) && AllDigits(text.substr(kSequenceDigits + 1));
}

std::uint32_t GenerationSequence(const std::wstring& generation) {
  if (!IsGeneration(generation) || generation.size() == kTimeDigits) return 0;
  return static_cast<std::uint32_t>(std::stoul(generation.substr(0, kSequenceDigits)));
}

std::wstring GenerationSortKey(const std::wstring& generation) {
  if (generation.size() == kTimeDigits && IsGeneration(generation)) {
    return std::wstring(kSequenceDigits, L'0') + L"_" + generation;
  }
  return generation;
}

std::wstring GenerationOfFileName(const std::wstring& name, const std::wstring& prefix) {
  const std::size_t dash = name.rfind(L'-');
  if (dash == std::wstring::npos || dash < prefix.size()) return L"";
  return name.substr(prefix.size(), dash - prefix.size());
}

std::optional<std::wstring> JournalRefusal(const ExchangePlan& plan,
                                           const JournalExpectations& expected) {
  if (std::optional<std::wstring> refusal = NameRefusal(plan, expected)) return refusal;
  for (std::size_t i = 0; i < plan.entries.size(); ++i) {
    const ExchangeEntry& e = plan.entries[i];
    bool configured = false;
    for (const std::wstring& target : expected.targets) {
      configured = configured || SamePath(target, e.target);
    }
    if (!configured) return L"Das Ziel " + Shown(e.target) + L" ist keine konfigurierte Ziel-DLL.";
    const ExchangeEntry derived = PlannedEntry(e.target, plan.generation, i, e.hadOriginal);
    for (const auto& [named, expectedName] : {std::pair{&e.staged, &derived.staged},
                                              std::pair{&e.backup, &derived.backup},
                                              std::pair{&e.discarded, &derived.discarded}}) {
      if (*named != *expectedName) {
        return L"Die Datei " + Shown(*named) + L" ist nicht die zu " + Shown(e.target) +
               L" gehörende.";
      }
    }
  }
  return std::nullopt;
}

std::string EncodeJournalRecord(const std::string& payload) {
  std::string record;
  PutUint32(record, static_cast<std::uint32_t>(payload.size()));
  PutUint32(record, Crc32(payload));
  return record + payload;
}

std::vector<std::string> DecodeJournalRecords(const std::string& bytes) {
  std::vector<std::string> payloads;
  std::size_t at = 0;
  while (bytes.size() - at >= kHeaderBytes) {
    const std::uint32_t length = GetUint32(bytes, at);
    if (length > kMaxRecordBytes || bytes.size() - at - kHeaderBytes < length) break;
    std::string payload = bytes.substr(at + kHeaderBytes, length);
    if (Crc32(payload) != GetUint32(bytes, at + 4)) break;
    payloads.push_back(std::move(payload));
    at += kHeaderBytes + length;
  }
  return payloads;
}

std::string PlanRecord(const ExchangePlan& plan) {
  std::string payload = "PLAN";
  for (const std::wstring* field : {&plan.generation, &plan.site, &plan.pool}) {
    payload += kLineSeparator + EncodeUtf8(*field);
  }
  for (const ExchangeEntry& e : plan.entries) {
    payload += kLineSeparator + EncodeUtf8(e.target) + kFieldSeparator + EncodeUtf8(e.staged) +
               kFieldSeparator + EncodeUtf8(e.backup) + kFieldSeparator + EncodeUtf8(e.discarded) +
               kFieldSeparator + (e.hadOriginal ? "1" : "0");
  }
  return payload;
}

std::string StepRecord(JournalStep step, std::size_t index) {
  std::string payload = StepName(step);
  if (step == JournalStep::Swapped) payload += kLineSeparator + std::to_string(index);
  return payload;
}

JournalState ReadJournal(const std::string& bytes) {
  JournalState state;
  std::vector<std::string> records = DecodeJournalRecords(bytes);
  if (records.empty() || !(state.plan = ParsePlan(records[0]))) return state;
  for (std::size_t i = 1; i < records.size(); ++i) {
    std::vector<std::string> lines = Split(records[i], kLineSeparator);
    const std::string& name = lines[0];
    if (name == StepName(JournalStep::Stopped)) {
      state.siteMayBeStopped = true;
    } else if (name == StepName(JournalStep::Started)) {
      state.siteMayBeStopped = false;
    } else if (name == StepName(JournalStep::Swapped) && lines.size() == 2) {
      if (lines[1] == std::to_string(state.swapped)) ++state.swapped;
    } else if (name == StepName(JournalStep::RollbackBegun)) {
      state.rollbackBegun = true;
    } else if (name == StepName(JournalStep::RolledBack)) {
      state.rolledBack = true;
    } else if (name == StepName(JournalStep::SwitchBegun)) {
      state.switchBegun = true;
    } else if (name == StepName(JournalStep::SwitchEnded)) {
      state.switchEnded = state.switchBegun;
    }
  }
  return state;
}

bool SwapVisible(const ExchangeEntry& entry, const EntryFiles& files) {
  return !files.staged && files.target && (!entry.hadOriginal || files.backup);
}

namespace {
bool EverySwapDone(const JournalState& state, const std::vector<EntryFiles>& files) {
  const std::vector<ExchangeEntry>& entries = state.plan->entries;
  if (state.switchEnded) return true;
  if (!state.switchBegun) return state.swapped >= entries.size();
  if (files.size() != entries.size()) return false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!SwapVisible(entries[i], files[i])) return false;
  }
  return true;
}
}  // namespace

RecoveryDecision DecideRecovery(const JournalState& state, const std::vector<EntryFiles>& files) {
  RecoveryDecision decision;
  decision.startSite = state.siteMayBeStopped;
  if (state.plan) decision.restoreOld = state.rollbackBegun || !EverySwapDone(state, files);
  decision.restartAfterRestore = decision.restoreOld && !state.siteMayBeStopped && !state.rolledBack;
  return decision;
}
