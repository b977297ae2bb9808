#include "core/Url.h"

#include <vector>

#include "core/Exception.h"

namespace {

[[noreturn]] void RaiseInvalidUrl(const std::wstring& text) {
  throw Exception(L"Ungültiger URL: \"" + text + L"\"");
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

unsigned DefaultPort(const std::wstring& scheme) { return scheme == L"https" ? 443u : 80u; }

bool IsSchemeChar(wchar_t c, bool first) {
  bool alpha = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
  if (first) return alpha;
  return alpha || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
}

// The length of a leading "scheme:" (without the colon), or 0 when the text starts with none.
std::size_t SchemeLength(const std::wstring& text) {
  std::size_t i = 0;
  while (i < text.size() && IsSchemeChar(text[i], i == 0)) ++i;
  return (i > 0 && i < text.size() && text[i] == L':') ? i : 0;
}

// Splits "host[:port]" into host and port; raises for an empty host or a port out of range.
void ParseAuthority(const std::wstring& authority, const std::wstring& text, Url& url) {
  if (authority.empty() || authority.find(L'@') != std::wstring::npos) RaiseInvalidUrl(text);
  std::size_t hostEnd = authority.size();
  if (authority[0] == L'[') {
    std::size_t close = authority.find(L']');
    if (close == std::wstring::npos) RaiseInvalidUrl(text);
    hostEnd = close + 1;
  } else {
    std::size_t colon = authority.find(L':');
    if (colon != std::wstring::npos) hostEnd = colon;
  }
  url.host = authority.substr(0, hostEnd);
  if (url.host.empty() || url.host == L"[]") RaiseInvalidUrl(text);
  url.port = DefaultPort(url.scheme);
  if (hostEnd == authority.size()) return;
  if (authority[hostEnd] != L':') RaiseInvalidUrl(text);
  std::wstring digits = authority.substr(hostEnd + 1);
  if (digits.empty()) return;  // "host:" keeps the scheme's port
  if (digits.size() > 5) RaiseInvalidUrl(text);
  unsigned port = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') RaiseInvalidUrl(text);
    port = port * 10 + static_cast<unsigned>(c - L'0');
  }
  if (port == 0 || port > 65535) RaiseInvalidUrl(text);
  url.port = port;
}

// Removes "." and ".." segments from an absolute path (RFC 3986, 5.2.4).
std::wstring RemoveDotSegments(const std::wstring& path) {
  std::vector<std::wstring> out;
  std::size_t pos = 1;  // path starts with "/"
  bool trailingSlash = false;
  while (pos <= path.size()) {
    std::size_t next = path.find(L'/', pos);
    if (next == std::wstring::npos) next = path.size();
    std::wstring segment = path.substr(pos, next - pos);
    bool last = next == path.size();
    if (segment == L".") {
      trailingSlash = last;
    } else if (segment == L"..") {
      if (!out.empty()) out.pop_back();
      trailingSlash = last;
    } else {
      out.push_back(segment);
      trailingSlash = false;
    }
    pos = next + 1;
  }
  std::wstring result;
  for (const auto& segment : out) result += L"/" + segment;
  if (trailingSlash || result.empty()) result += L"/";
  return result;
}

struct Reference {
  std::wstring path;
  std::wstring query;  // with its "?", empty when none
  std::wstring fragment;
  bool hasFragment = false;
};

Reference SplitReference(const std::wstring& text) {
  Reference ref;
  std::wstring rest = text;
  std::size_t hash = rest.find(L'#');
  if (hash != std::wstring::npos) {
    ref.fragment = rest.substr(hash + 1);
    ref.hasFragment = true;
    rest.erase(hash);
  }
  std::size_t question = rest.find(L'?');
  if (question != std::wstring::npos) {
    ref.query = rest.substr(question);
    rest.erase(question);
  }
  ref.path = rest;
  return ref;
}

std::wstring PathOf(const std::wstring& pathAndQuery) {
  return pathAndQuery.substr(0, pathAndQuery.find(L'?'));
}

std::wstring QueryOf(const std::wstring& pathAndQuery) {
  std::size_t question = pathAndQuery.find(L'?');
  return question == std::wstring::npos ? std::wstring() : pathAndQuery.substr(question);
}

std::wstring Trim(const std::wstring& text) {
  std::size_t begin = text.find_first_not_of(L" \t\r\n");
  if (begin == std::wstring::npos) return L"";
  std::size_t end = text.find_last_not_of(L" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

}  // namespace

std::wstring Url::ToString() const {
  std::wstring text = scheme + L"://" + host;
  if (port != DefaultPort(scheme)) text += L":" + std::to_wstring(port);
  return text + pathAndQuery;
}

std::wstring Url::ToStringWithFragment() const {
  return fragment.empty() ? ToString() : ToString() + L"#" + fragment;
}

Url ParseUrl(const std::wstring& text) {
  std::size_t schemeLength = SchemeLength(text);
  if (schemeLength == 0 || text.compare(schemeLength, 3, L"://") != 0) RaiseInvalidUrl(text);
  Url url;
  url.scheme = Lower(text.substr(0, schemeLength));
  if (url.scheme != L"http" && url.scheme != L"https") RaiseInvalidUrl(text);
  std::size_t authorityStart = schemeLength + 3;
  std::size_t authorityEnd = text.find_first_of(L"/?#", authorityStart);
  if (authorityEnd == std::wstring::npos) authorityEnd = text.size();
  ParseAuthority(text.substr(authorityStart, authorityEnd - authorityStart), text, url);
  Reference ref = SplitReference(text.substr(authorityEnd));
  url.pathAndQuery = (ref.path.empty() ? L"/" : ref.path) + ref.query;
  url.fragment = ref.fragment;
  return url;
}

Url ResolveRedirect(const Url& base, const std::wstring& location) {
  std::wstring target = Trim(location);
  Url resolved;
  if (SchemeLength(target) != 0) {
    resolved = ParseUrl(target);
  } else if (target.compare(0, 2, L"//") == 0) {
    resolved = ParseUrl(base.scheme + L":" + target);
  } else {
    resolved = base;
    Reference ref = SplitReference(target);
    resolved.fragment = ref.fragment;
    if (!ref.path.empty()) {
      std::wstring path = ref.path;
      if (path[0] != L'/') {
        std::wstring basePath = PathOf(base.pathAndQuery);
        path = basePath.substr(0, basePath.rfind(L'/') + 1) + path;
      }
      resolved.pathAndQuery = RemoveDotSegments(path) + ref.query;
    } else if (!ref.query.empty()) {
      resolved.pathAndQuery = PathOf(base.pathAndQuery) + ref.query;
    } else {
      resolved.pathAndQuery = PathOf(base.pathAndQuery) + QueryOf(base.pathAndQuery);
    }
  }
  if (resolved.fragment.empty()) resolved.fragment = base.fragment;
  return resolved;
}
