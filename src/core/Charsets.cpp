#include "core/Charsets.h"

#include <cstdint>

namespace {

struct CharsetName {
  const wchar_t* name;
  unsigned codePage;
};

// Registered names (IANA) and their common aliases, in lower case.
constexpr CharsetName kCharsets[] = {
    {L"utf-8", kCodePageUtf8},
    {L"utf8", kCodePageUtf8},
    {L"utf-16", kCodePageUtf16LE},
    {L"utf-16le", kCodePageUtf16LE},
    {L"utf-16be", kCodePageUtf16BE},
    {L"unicodefffe", kCodePageUtf16BE},
    {L"utf-32", kCodePageUtf32LE},
    {L"utf-32le", kCodePageUtf32LE},
    {L"utf-32be", kCodePageUtf32BE},
    {L"us-ascii", 20127},
    {L"ascii", 20127},
    {L"iso-8859-1", 28591},
    {L"iso_8859-1", 28591},
    {L"latin1", 28591},
    {L"l1", 28591},
    {L"iso-8859-2", 28592},
    {L"latin2", 28592},
    {L"iso-8859-3", 28593},
    {L"iso-8859-4", 28594},
    {L"iso-8859-5", 28595},
    {L"iso-8859-6", 28596},
    {L"iso-8859-7", 28597},
    {L"iso-8859-8", 28598},
    {L"iso-8859-9", 28599},
    {L"latin5", 28599},
    {L"iso-8859-13", 28603},
    {L"iso-8859-15", 28605},
    {L"latin-9", 28605},
    {L"windows-874", 874},
    {L"tis-620", 874},
    {L"windows-1250", 1250},
    {L"windows-1251", 1251},
    {L"windows-1252", 1252},
    {L"windows-1253", 1253},
    {L"windows-1254", 1254},
    {L"windows-1255", 1255},
    {L"windows-1256", 1256},
    {L"windows-1257", 1257},
    {L"windows-1258", 1258},
    {L"ibm437", 437},
    {L"ibm850", 850},
    {L"ibm852", 852},
    {L"ibm866", 866},
    {L"koi8-r", 20866},
    {L"koi8-u", 21866},
    {L"macintosh", 10000},
    {L"shift_jis", 932},
    {L"shift-jis", 932},
    {L"sjis", 932},
    {L"windows-31j", 932},
    {L"euc-jp", 20932},
    {L"iso-2022-jp", 50220},
    {L"gb2312", 936},
    {L"gbk", 936},
    {L"gb18030", 54936},
    {L"hz-gb-2312", 52936},
    {L"big5", 950},
    {L"ks_c_5601-1987", 949},
    {L"euc-kr", 51949},
};

wchar_t LowerAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

std::wstring Lower(const std::wstring& text) {
  std::wstring result = text;
  for (wchar_t& c : result) c = LowerAscii(c);
  return result;
}

// "cp" and 1 to 5 decimal digits, the value 1 to 65535.
std::optional<unsigned> NumberedCodePage(const std::wstring& lower) {
  if (lower.size() < 3 || lower.size() > 7 || lower.compare(0, 2, L"cp") != 0) return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = 2; i < lower.size(); ++i) {
    if (lower[i] < L'0' || lower[i] > L'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(lower[i] - L'0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return value;
}

}  // namespace

std::optional<unsigned> CodePageForCharset(const std::wstring& name) {
  std::wstring lower = Lower(name);
  for (const CharsetName& entry : kCharsets) {
    if (lower == entry.name) return entry.codePage;
  }
  return NumberedCodePage(lower);
}
