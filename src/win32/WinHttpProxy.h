#pragma once
// Chooses the proxy of a WinHTTP session from the account's per-user proxy setting.

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "core/ProxyChoice.h"

// The per-user setting, read from the platform at the first call and kept for the process.
const UserProxySetting& ProcessProxySetting();

// Sets on request the proxy that setting chooses for url: the result of the configuration script
// (evaluated through session) or of automatic discovery, or the fixed proxy with its bypass list.
// The request stays direct, as its session was opened, when that yields no proxy or fails.
// Wine 8 evaluates the script but ignores a proxy set on a request or session handle.
void ApplyProxy(const UserProxySetting& setting, HINTERNET session, HINTERNET request,
                const std::wstring& url);
