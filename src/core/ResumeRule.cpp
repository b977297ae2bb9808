#include "core/ResumeRule.h"

#include <map>

#include "core/Exception.h"
#include "core/RecordLines.h"
#include "core/ServerRefusal.h"
#include "core/UnicodeDecoding.h"

namespace {
const char kHeader[] = "KORVAL-TEILDOWNLOAD 1";
const char kUrl[] = "URL";
const char kEtag[] = "ETAG";
const char kTotal[] = "GROESSE";
const char kHeld[] = "BYTES";
// Longer texts were not written by the service.
constexpr std::size_t kMaxUrlChars = 2048;
constexpr std::size_t kMaxEtagChars = 256;
constexpr std::size_t kMaxDigits = 19;  // below 2^64

// Decimal digits only, at most kMaxDigits of them.
template <typename Text>
std::optional<std::uint64_t> ParseDigits(const Text& text) {
  if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
  std::uint64_t value = 0;
  for (auto c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

// Splits "KEY=value" lines under the header; false when a line has no "=" or a key comes twice.
bool SplitLines(const std::string& bytes, std::map<std::string, std::string>& values,
                std::wstring& whyNot) {
  const std::vector<std::string> lines = SplitRecordLines(bytes);
  if (lines.empty()) return whyNot = L"die Datei ist leer", false;
  if (lines.front() != kHeader) return whyNot = L"die Kopfzeile fehlt", false;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return whyNot = L"eine Zeile ohne \"=\"", false;
    if (!values.emplace(line.substr(0, equals), line.substr(equals + 1)).second) {
      return whyNot = L"ein Schlüssel steht doppelt", false;
    }
  }
  return true;
}

std::optional<std::wstring> DecodeText(const std::string& raw, std::size_t maxChars) {
  try {
    std::wstring text = DecodeUtf8(raw);
    if (text.empty() || text.size() > maxChars || HasControlCharacters(text)) return std::nullopt;
    return text;
  } catch (const Exception&) {
    return std::nullopt;
  }
}
}  // namespace

bool WorthKeeping(const PartialRecord& record) {
  return IsStrongEtag(record.etag) && !record.url.empty() && record.total > 0 && record.held > 0 &&
         record.held < record.total;
}

bool MayResume(const PartialRecord& record, const std::wstring& url, std::uint64_t expectedTotal) {
  return WorthKeeping(record) && record.url == url &&
         (expectedTotal == 0 || record.total == expectedTotal);
}

std::wstring RangeRequestHeaders(const PartialRecord& record) {
  return L"Range: bytes=" + std::to_wstring(record.held) + L"-\r\nIf-Range: " + record.etag +
         L"\r\n";
}

std::optional<ContentRange> ParseContentRange(const std::wstring& text) {
  const std::wstring unit = L"bytes ";
  if (text.compare(0, unit.size(), unit) != 0) return std::nullopt;
  const std::size_t dash = text.find(L'-', unit.size());
  const std::size_t slash = text.find(L'/', unit.size());
  if (dash == std::wstring::npos || slash == std::wstring::npos || slash < dash) {
    return std::nullopt;
  }
  const auto first = ParseDigits(text.substr(unit.size(), dash - unit.size()));
  const auto last = ParseDigits(text.substr(dash + 1, slash - dash - 1));
  const auto total = ParseDigits(text.substr(slash + 1));
  if (!first || !last || !total || *first > *last || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

RangeAnswer JudgeRangeAnswer(std::uint64_t askedFrom, std::uint64_t total, int status,
                             const std::wstring& contentRange) {
  if (status == 206) {
    const std::optional<ContentRange> range = ParseContentRange(contentRange);
    const bool theRest = askedFrom > 0 && range && range->first == askedFrom &&
                         range->total == total && range->last == total - 1;
    return theRest ? RangeAnswer::Continue : RangeAnswer::Refused;
  }
  if (status == 416) return RangeAnswer::Refused;
  if (IsSuccessStatus(status)) return RangeAnswer::StartOver;
  return RangeAnswer::LeavesPartial;
}

std::wstring RefusedRangeText(const std::wstring& contentRange) {
  return L"Der Server sandte einen anderen Teil der DLL als erbeten (Content-Range: \"" +
         contentRange.substr(0, 100) + L"\").";
}

std::wstring CutOffText(std::uint64_t held, std::uint64_t total) {
  return L"Der Download brach nach " + std::to_wstring(held) + L" von " + std::to_wstring(total) +
         L" Bytes ab.";
}

std::string FormatPartialRecord(const PartialRecord& record) {
  return std::string(kHeader) + "\n" + kUrl + "=" + EncodeUtf8(record.url) + "\n" + kEtag + "=" +
         EncodeUtf8(record.etag) + "\n" + kTotal + "=" + std::to_string(record.total) + "\n" +
         kHeld + "=" + std::to_string(record.held) + "\n";
}

ParsedPartialRecord ParsePartialRecord(const std::string& bytes) {
  ParsedPartialRecord parsed;
  std::map<std::string, std::string> values;
  if (!SplitLines(bytes, values, parsed.whyNot)) return parsed;
  if (values.size() != 4 || !values.count(kUrl) || !values.count(kEtag) || !values.count(kTotal) ||
      !values.count(kHeld)) {
    parsed.whyNot = L"die Schlüssel sind nicht URL, ETAG, GROESSE und BYTES";
    return parsed;
  }
  PartialRecord record;
  const auto url = DecodeText(values[kUrl], kMaxUrlChars);
  const auto etag = DecodeText(values[kEtag], kMaxEtagChars);
  const auto total = ParseDigits(values[kTotal]);
  const auto held = ParseDigits(values[kHeld]);
  if (!url) {
    parsed.whyNot = L"URL ist keine Adresse";
  } else if (!etag || !IsStrongEtag(*etag)) {
    parsed.whyNot = L"ETAG ist kein starkes ETag";
  } else if (!total || !held || *held == 0 || *held >= *total) {
    parsed.whyNot = L"GROESSE und BYTES passen nicht zueinander";
  } else {
    parsed.record = PartialRecord{*url, *etag, *total, *held};
  }
  return parsed;
}
