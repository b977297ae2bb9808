#include "core/ExchangeJournal.h"

#include <zlib.h>

#include <cstdint>

#include "core/Exception.h"
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

}  // namespace

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
    }
  }
  return state;
}

RecoveryDecision DecideRecovery(const JournalState& state) {
  RecoveryDecision decision;
  decision.startSite = state.siteMayBeStopped;
  if (state.plan) {
    decision.restoreOld = state.rollbackBegun || state.swapped < state.plan->entries.size();
  }
  decision.stopSiteFirst = decision.restoreOld && !state.siteMayBeStopped && !state.rolledBack;
  return decision;
}
