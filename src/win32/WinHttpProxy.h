#pragma once
// Chooses the route of a WinHTTP request: the account's per-user setting, else the machine's
// WinHTTP proxy, with the bypass list applied by the core; and answers a proxy's demand for a
// logon with the machine's own identity where the core allows it.

#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>

#include "core/ProxyChoice.h"
#include "core/ProxyLogon.h"
#include "core/Url.h"

// The per-user setting, read from the platform at the first call and kept for the process.
const UserProxySetting& ProcessProxySetting();

// The machine's WinHTTP proxy (WinHttpGetDefaultProxyConfiguration), read at the first call and
// kept for the process.
const MachineProxySetting& ProcessMachineProxySetting();

// The route for url: the result of the account's configuration script (evaluated through the
// direct session) or of automatic discovery, or its fixed proxy; when that yields none, the
// machine's WinHTTP proxy; direct when the chosen proxy's bypass list names the host. The
// decision is kept for LastProxyDecision too.
ProxyDecision RouteRequest(const UserProxySetting& setting, HINTERNET direct, const Url& url);

// The decision of the process's last RouteRequest; none before the first. Safe on any thread.
std::optional<ProxyDecision> LastProxyDecision();

// After a 407 on a request sent along `route`: sets the machine's own credentials (Negotiate,
// else NTLM) for the proxy alone when MayAnswerWithMachineIdentity allows it and the proxy offers
// one of the two, so the request can be sent again. The autologon policy stays WinHTTP's
// default. False when nothing was set.
bool AnswerProxyChallenge(HINTERNET request, const ProxyDecision& route, HttpClientRole client,
                          bool proxyLogon);
