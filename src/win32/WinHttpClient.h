#pragma once
// The HTTP client of the version check on WinHTTP.
//
// Each Create() opens WinHTTP sessions of its own (one per route, see WinHttpRoutes): cookies set
// along the redirects of one check are sent on its later requests of the same route, and nothing
// survives into the next check. Every request is one
// GET over HTTP/1.1 with the client's fixed User-Agent and no other header of its own; WinHTTP's
// own redirect handling is off (the core follows redirects); each of the four time-outs is 60 s
// unless set otherwise, cut to what is left of the session's overall deadline once LimitTotalTime
// set one (the body is then read as it arrives, so a trickling server cannot outlast it); a body
// that the reading leaves unread is dropped with the request; the proxy comes from the per-user
// setting or the machine's; a proxy's 407 is answered with the machine's identity only where
// MayAnswerWithMachineIdentity allows it for the factory's role; https uses the system's TLS
// validation.

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <optional>

#include "core/ProxyChoice.h"
#include "core/ProxyLogon.h"
#include "core/WinHttpErrors.h"
#include "platform/HttpTransport.h"

// The User-Agent of every request: the client's own name, no product name.
extern const wchar_t* const kHttpUserAgent;

// Shared with the DLL's download, which runs on WinHTTP too.
// Raises the message of a failed WinHTTP call at the given stage of the exchange.
[[noreturn]] void RaiseTransportFailure(TransportStage stage, DWORD code);
// The header's value, or the empty text when the response has none.
std::wstring QueryHeader(HINTERNET request, DWORD header);
int QueryStatus(HINTERNET request);

class WinHttpClientFactory : public HttpClientFactory {
 public:
  // Clients of the role take the proxy from the account's per-user setting, read once per
  // process.
  explicit WinHttpClientFactory(HttpClientRole role) : role_(role) {}
  // Clients take the proxy from the given setting instead (test tools).
  WinHttpClientFactory(HttpClientRole role, UserProxySetting proxySetting)
      : role_(role), proxySetting_(std::move(proxySetting)) {}

  // Raises Exception (the system error of WinHttpOpen or of setting its options) when no session
  // can be opened. Create() never answers a proxy's 407.
  std::unique_ptr<HttpSession> Create() override;
  std::unique_ptr<HttpSession> Create(bool proxyLogon) override;

  // Each of the time-outs of the sessions made from now on (60 s unless set).
  void SetTimeout(int milliseconds) { timeoutMilliseconds_ = milliseconds; }

 private:
  HttpClientRole role_;
  std::optional<UserProxySetting> proxySetting_;
  int timeoutMilliseconds_ = 60000;
};
