#pragma once
// Chooses the proxy of a WinHTTP request: the account's per-user setting, else the machine's
// WinHTTP proxy; and answers a proxy's challenge with the machine's own identity.

#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>

#include "core/ProxyChoice.h"

// The per-user setting, read from the platform at the first call and kept for the process.
const UserProxySetting& ProcessProxySetting();

// The machine's WinHTTP proxy (WinHttpGetDefaultProxyConfiguration), read at the first call and
// kept for the process.
const MachineProxySetting& ProcessMachineProxySetting();

// Sets on request the proxy that setting chooses for url: the result of the configuration script
// (evaluated through session) or of automatic discovery, or the fixed proxy with its bypass list;
// when that yields none, the machine's WinHTTP proxy. The request stays direct, as its session
// was opened, when neither gives one. Answers the decision, which LastProxyDecision keeps too.
// Wine 8 evaluates the script but ignores a proxy set on a request or session handle.
ProxyDecision ApplyProxy(const UserProxySetting& setting, HINTERNET session, HINTERNET request,
                         const std::wstring& url);

// The decision of the process's last ApplyProxy; none before the first. Safe on any thread.
std::optional<ProxyDecision> LastProxyDecision();

// After a 407: sets the machine's own credentials (Negotiate, else NTLM) for the proxy alone, so
// the request can be sent again. False when the proxy asks for another scheme or the credentials
// cannot be set. A server's own challenge (401) is never answered.
bool AnswerProxyChallenge(HINTERNET request);
