#include "core/ProxyBypass.h"

#include <cwctype>
#include <vector>

std::wstring Lowercase(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

namespace {

std::vector<std::wstring> Entries(const std::wstring& list) {
  std::vector<std::wstring> entries;
  std::wstring current;
  for (wchar_t c : list + L";") {
    if (c == L';' || c == L',' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
      if (!current.empty()) entries.push_back(Lowercase(current));
      current.clear();
    } else {
      current += c;
    }
  }
  return entries;
}

// "*" matches any run of characters, everything else itself.
bool GlobMatches(const std::wstring& pattern, const std::wstring& text) {
  std::size_t p = 0, t = 0, star = std::wstring::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::wstring::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

bool AllDigits(const std::wstring& text) {
  if (text.empty() || text.size() > 5) return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

bool EntryNames(std::wstring entry, const Url& url, const std::wstring& host) {
  if (entry == L"<local>") return host.find(L'.') == std::wstring::npos;
  const std::size_t schemeEnd = entry.find(L"://");
  if (schemeEnd != std::wstring::npos) {
    if (entry.substr(0, schemeEnd) != url.scheme) return false;
    entry.erase(0, schemeEnd + 3);
  }
  const std::size_t colon = entry.rfind(L':');
  const std::size_t bracket = entry.rfind(L']');
  if (colon != std::wstring::npos && (bracket == std::wstring::npos || colon > bracket) &&
      AllDigits(entry.substr(colon + 1))) {
    if (std::stoul(entry.substr(colon + 1)) != url.port) return false;
    entry.erase(colon);
  }
  return GlobMatches(entry, host);
}

}  // namespace

bool BypassListNames(const std::wstring& bypassList, const Url& url) {
  const std::wstring host = Lowercase(url.host);
  for (const std::wstring& entry : Entries(bypassList)) {
    if (EntryNames(entry, url, host)) return true;
  }
  return false;
}

bool IsLoopbackHost(const std::wstring& host) {
  const std::wstring name = Lowercase(host);
  if (name == L"localhost" || name == L"[::1]") return true;
  return name.rfind(L"127.", 0) == 0 &&
         name.find_first_not_of(L"0123456789.") == std::wstring::npos;
}
