#include "win32/WinHttpRoutes.h"

#include <utility>

#include "win32/Win32Error.h"
#include "win32/WinHttpClient.h"

WinHttpRoutes::WinHttpRoutes(Configure configure)
    : configure_(std::move(configure)), direct_(Open(L"")) {}

HINTERNET WinHttpRoutes::SessionFor(const ProxyDecision& route) {
  if (route.proxy.empty()) return direct_.Get();
  auto found = proxied_.find(route.proxy);
  if (found == proxied_.end()) found = proxied_.emplace(route.proxy, Open(route.proxy)).first;
  return found->second.Get();
}

UniqueInternetHandle WinHttpRoutes::Open(const std::wstring& proxy) const {
  UniqueInternetHandle session(proxy.empty()
                                   ? WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0)
                                   : WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                                 proxy.c_str(), WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) RaiseSystemError(GetLastError());
  if (configure_) configure_(session.Get());
  return session;
}
