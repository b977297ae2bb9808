#pragma once
// The bypass list of a proxy, evaluated by the service itself: a request whose host the list
// names is sent without any proxy, and one that it does not name is sent through the proxy with
// no list at all. So whether a request went through a proxy is known, not guessed from WinHTTP.

#include <string>

#include "core/Url.h"

// Whether the list names the URL. Entries are separated by ";", "," or blanks, compared without
// case: "<local>" names every host without a dot; otherwise an entry is a host pattern in which
// "*" stands for any run of characters, optionally preceded by "scheme://" and followed by
// ":port", which then must match too.
bool BypassListNames(const std::wstring& bypassList, const Url& url);

// localhost, 127.0.0.0/8 and [::1]: never sent through a proxy.
bool IsLoopbackHost(const std::wstring& host);

// The text with its letters in lower case, as host names and schemes are compared.
std::wstring Lowercase(std::wstring text);
