#pragma once
// The request policy of the version check: one GET, redirects followed by our own rules.

#include <cstddef>
#include <string>

#include "platform/HttpTransport.h"

// A version file is a few bytes; a body beyond this is refused unread.
constexpr std::size_t kMaxVersionBodyBytes = 64 * 1024;
constexpr int kMaxRedirects = 5;
// The version fetch, redirects included, ends after this long in all.
constexpr unsigned kVersionFetchTotalMilliseconds = 120000;

// The message of a body longer than maxBytes, as the transport raises it.
std::wstring BodyTooLargeMessage(std::size_t maxBytes);

// Whether the status asks to be redirected: 300 to 303, 307 and 308.
bool IsRedirectStatus(int status);

// The message of a redirect from https to another scheme, which is never followed.
std::wstring DowngradeRefusedMessage(const std::wstring& target);

// GETs url through session and follows redirects: a redirect status with a non-empty Location
// leads to a GET of that location resolved against the URL just requested (its fragment carried
// over). At most kMaxRedirects are followed; one more raises Exception "Maximale Anzahl von
// Umleitungen (5) überschritten". A redirect from https to http raises
// DowngradeRefusedMessage. Returns the first response that is no such redirect; its status is not
// examined, and only its body is read. The whole exchange ends after totalMilliseconds. Errors of
// the session and of resolving propagate unchanged.
HttpResponse FetchFollowingRedirects(HttpSession& session, const Url& url, std::size_t maxBytes,
                                     unsigned totalMilliseconds = kVersionFetchTotalMilliseconds);

// The address that url ends at after the redirects, followed by the same rules (at most
// kMaxRedirects, never from https to http) without reading any body; within totalMilliseconds.
Url FindFinalAddress(HttpSession& session, const Url& url,
                     unsigned totalMilliseconds = kVersionFetchTotalMilliseconds);
