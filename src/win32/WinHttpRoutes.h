#pragma once
// The WinHTTP sessions of one client, one per route: the direct one, and one for each proxy,
// opened with that proxy alone and no bypass list (the core has applied it already), so that a
// request on it goes through the proxy and nowhere else. A session's own proxy is what both
// Windows and Wine honour; Wine ignores a proxy set on a request. Cookies live per session, so a
// redirect from one route to another starts without the first route's cookies.

#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <map>
#include <string>

#include "core/ProxyChoice.h"
#include "win32/ScopedHandle.h"

class WinHttpRoutes {
 public:
  // Applied to every session as it is opened (time-outs); may raise.
  using Configure = std::function<void(HINTERNET session)>;

  // Opens the direct session. Raises Exception when it cannot be opened or configured.
  explicit WinHttpRoutes(Configure configure);

  HINTERNET Direct() const { return direct_.Get(); }
  // The session of the route, opened at its first use. Raises Exception as the constructor.
  HINTERNET SessionFor(const ProxyDecision& route);

 private:
  UniqueInternetHandle Open(const std::wstring& proxy) const;

  Configure configure_;
  UniqueInternetHandle direct_;
  std::map<std::wstring, UniqueInternetHandle> proxied_;
};
