#include "core/VersionCompare.h"

#include <algorithm>
#include <vector>

#include "core/Conversions.h"
#include "core/Exception.h"

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

std::wstring WithoutLeadingBlanks(const std::wstring& text) {
  std::size_t begin = text.find_first_not_of(L' ');
  return begin == std::wstring::npos ? std::wstring() : text.substr(begin);
}

// The dot-separated parts with their leading zeros removed ("0" stays "0").
std::vector<std::wstring> Parts(const std::wstring& text) {
  std::vector<std::wstring> parts;
  std::wstring rest = WithoutLeadingBlanks(text);
  std::size_t pos = 0;
  while (pos <= rest.size()) {
    std::size_t dot = rest.find(L'.', pos);
    if (dot == std::wstring::npos) dot = rest.size();
    std::wstring part = rest.substr(pos, dot - pos);
    std::size_t nonZero = part.find_first_not_of(L'0');
    parts.push_back(nonZero == std::wstring::npos ? L"0" : part.substr(nonZero));
    pos = dot + 1;
  }
  return parts;
}

// Compares two digit strings without leading zeros by their numeric value; any length works.
int CompareNumeric(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

}  // namespace

std::wstring RemoveDots(const std::wstring& text) {
  std::wstring result;
  result.reserve(text.size());
  for (wchar_t c : text) {
    if (c != L'.') result += c;
  }
  return result;
}

bool IsDottedDecimal(const std::wstring& text) {
  std::wstring rest = WithoutLeadingBlanks(text);
  if (rest.empty() || rest.find(L'.') == std::wstring::npos) return false;
  bool previousWasDigit = false;
  for (wchar_t c : rest) {
    if (IsDigit(c)) {
      previousWasDigit = true;
    } else if (c == L'.' && previousWasDigit) {
      previousWasDigit = false;
    } else {
      return false;
    }
  }
  return previousWasDigit;
}

bool IsResourceVersion(const std::wstring& text) {
  if (!IsDottedDecimal(text)) return false;
  const std::vector<std::wstring> parts = Parts(text);
  if (parts.size() > 4) return false;
  for (const std::wstring& part : parts) {
    if (CompareNumeric(part, L"65535") > 0) return false;
  }
  return true;
}

int CompareDottedVersions(const std::wstring& a, const std::wstring& b) {
  std::vector<std::wstring> partsA = Parts(a);
  std::vector<std::wstring> partsB = Parts(b);
  std::size_t count = partsA.size() > partsB.size() ? partsA.size() : partsB.size();
  partsA.resize(count, L"0");
  partsB.resize(count, L"0");
  for (std::size_t i = 0; i < count; ++i) {
    int order = CompareNumeric(partsA[i], partsB[i]);
    if (order != 0) return order;
  }
  return 0;
}

bool IsOlderVersion(const std::wstring& localText, std::int32_t localNumber,
                    const std::wstring& onlineText, std::int32_t onlineNumber) {
  if (!IsDottedDecimal(localText) || !IsDottedDecimal(onlineText)) {
    return localNumber < onlineNumber;
  }
  return CompareDottedVersions(localText, onlineText) < 0;
}

bool IsSameVersion(const std::wstring& a, const std::wstring& b) {
  if (IsResourceVersion(a) && IsResourceVersion(b)) return CompareDottedVersions(a, b) == 0;
  try {
    const std::int32_t numberA = StrToInt(RemoveDots(a));
    const std::int32_t numberB = StrToInt(RemoveDots(b));
    return !IsOlderVersion(a, numberA, b, numberB) && !IsOlderVersion(b, numberB, a, numberA);
  } catch (const EConvertError&) {
    return false;
  }
}

std::wstring FormatProductVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
  return std::to_wstring(mostSignificant >> 16) + L"." + std::to_wstring(mostSignificant & 0xFFFF) +
         L"." + std::to_wstring(leastSignificant >> 16) + L"." +
         std::to_wstring(leastSignificant & 0xFFFF);
}

VersionVerdict CompareWithOnline(const std::wstring& localText, const std::wstring& onlineText) {
  VersionVerdict verdict;
  if (IsResourceVersion(onlineText) && IsResourceVersion(localText)) {
    // Every version a DLL can carry compares, even one whose digits exceed the integers.
    const int order = CompareDottedVersions(localText, onlineText);
    verdict.older = order < 0;
    verdict.newer = order > 0;
    return verdict;
  }
  const std::int32_t onlineNumber = StrToInt(RemoveDots(onlineText));
  const std::int32_t localNumber = StrToInt(RemoveDots(localText));
  verdict.older = IsOlderVersion(localText, localNumber, onlineText, onlineNumber);
  verdict.newer = IsOlderVersion(onlineText, onlineNumber, localText, localNumber);
  return verdict;
}

bool IsFourPartVersion(const std::wstring& text) {
  return IsResourceVersion(text) && std::count(text.begin(), text.end(), L'.') == 3 &&
         text.front() != L' ';
}
