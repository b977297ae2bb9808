#pragma once
// Puts the account's per-user proxy setting on a WinHTTP request.

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "core/ProxyChoice.h"

// The per-user setting, read from the platform at the first call and kept for the process.
const UserProxySetting& ProcessProxySetting();

// Sets the proxy for one request to url: evaluates the configuration script or automatic
// discovery through session, or sets the fixed proxy and its bypass list. Leaves the request
// direct when that yields no proxy or fails.
void ApplyProxy(HINTERNET session, HINTERNET request, const std::wstring& url);
