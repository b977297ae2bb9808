#include "core/Conversions.h"

#include <optional>

#include "core/Exception.h"

namespace {

constexpr std::size_t kMaxHexDigits = 8;

bool IsDecimalDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

int HexDigitValue(wchar_t c) {
  if (IsDecimalDigit(c)) return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

wchar_t AsciiUpper(wchar_t c) {
  return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
}

bool EqualsIgnoringAsciiCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// The length of a hex prefix at pos, or 0 when none starts there.
std::size_t HexPrefixLength(const std::wstring& text, std::size_t pos) {
  if (pos >= text.size()) return 0;
  const wchar_t c = text[pos];
  if (c == L'$' || c == L'x' || c == L'X') return 1;
  if (c == L'0' && pos + 1 < text.size() && (text[pos + 1] == L'x' || text[pos + 1] == L'X')) {
    return 2;
  }
  return 0;
}

// The 32-bit pattern of the hex digits from pos to the end; nullopt unless every character is a
// hex digit, there is at least one, and at most 8 of them count after leading zeros.
std::optional<std::uint32_t> ParseHexPattern(const std::wstring& text, std::size_t pos) {
  if (pos >= text.size()) return std::nullopt;
  std::uint32_t value = 0;
  std::size_t significant = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = HexDigitValue(text[pos]);
    if (digit < 0) return std::nullopt;
    if (significant == 0 && digit == 0) continue;
    if (++significant > kMaxHexDigits) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// The magnitude of the decimal digits from pos to the end, while it stays within limit.
std::optional<std::uint32_t> ParseDecimalMagnitude(const std::wstring& text, std::size_t pos,
                                                   std::uint32_t limit) {
  if (pos >= text.size()) return std::nullopt;
  std::uint32_t value = 0;
  for (; pos < text.size(); ++pos) {
    if (!IsDecimalDigit(text[pos])) return std::nullopt;
    const auto digit = static_cast<std::uint32_t>(text[pos] - L'0');
    if (value > (limit - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<std::int32_t> TryStrToInt(const std::wstring& text) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == L' ') ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) {
    negative = text[pos] == L'-';
    ++pos;
  }
  std::optional<std::uint32_t> magnitude;
  if (const std::size_t prefix = HexPrefixLength(text, pos); prefix > 0) {
    magnitude = ParseHexPattern(text, pos + prefix);
  } else {
    const std::uint32_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    magnitude = ParseDecimalMagnitude(text, pos, limit);
  }
  if (!magnitude) return std::nullopt;
  // Two's complement in unsigned arithmetic: -$80000000 and -$FFFFFFFF stay defined.
  const std::uint32_t pattern = negative ? 0u - *magnitude : *magnitude;
  return static_cast<std::int32_t>(pattern);
}

std::size_t SkipDigits(const std::wstring& text, std::size_t pos, std::size_t& count) {
  while (pos < text.size() && IsDecimalDigit(text[pos])) {
    ++pos;
    ++count;
  }
  return pos;
}

bool IsSpecialFloatWord(const std::wstring& word) {
  return EqualsIgnoringAsciiCase(word, L"NAN") || EqualsIgnoringAsciiCase(word, L"INF") ||
         EqualsIgnoringAsciiCase(word, L"+INF") || EqualsIgnoringAsciiCase(word, L"-INF");
}

// Whether the text is a number in the regional format; if so, nonZero tells whether it is zero.
// The zero test looks at the digits, so no floating-point rounding decides it.
bool IsRegionalNumber(const std::wstring& text, wchar_t decimalSeparator, bool& nonZero) {
  std::size_t pos = 0;
  while (pos < text.size() && text[pos] == L' ') ++pos;
  if (IsSpecialFloatWord(text.substr(pos))) {
    nonZero = true;
    return true;
  }
  if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) ++pos;
  const std::size_t mantissaStart = pos;
  std::size_t digits = 0;
  pos = SkipDigits(text, pos, digits);
  if (pos < text.size() && text[pos] == decimalSeparator) pos = SkipDigits(text, pos + 1, digits);
  if (digits == 0) return false;
  nonZero = text.substr(mantissaStart, pos - mantissaStart).find_first_of(L"123456789") !=
            std::wstring::npos;
  if (pos < text.size() && (text[pos] == L'E' || text[pos] == L'e')) {
    ++pos;
    if (pos < text.size() && (text[pos] == L'+' || text[pos] == L'-')) ++pos;
    std::size_t exponentDigits = 0;
    pos = SkipDigits(text, pos, exponentDigits);
    if (exponentDigits == 0) return false;
  }
  while (pos < text.size() && text[pos] == L' ') ++pos;
  return pos == text.size();
}

}  // namespace

std::int32_t StrToInt(const std::wstring& text) {
  if (const auto value = TryStrToInt(text)) return *value;
  throw EConvertError(L"'" + text + L"' ist kein gültiger Integerwert für Typ 'Integer'");
}

bool StrToBool(const std::wstring& text, wchar_t decimalSeparator) {
  bool nonZero = false;
  if (IsRegionalNumber(text, decimalSeparator, nonZero)) return nonZero;
  if (EqualsIgnoringAsciiCase(text, L"True")) return true;
  if (EqualsIgnoringAsciiCase(text, L"False")) return false;
  throw EConvertError(L"'" + text + L"' ist kein gültiger boolescher Wert");
}

std::wstring ApplyFolderRule(const std::wstring& folder) {
  if (!folder.empty() && folder.back() == L'\\') return folder;
  return folder + L'\\';
}
