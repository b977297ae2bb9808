#pragma once
// The request policy of the version check: one GET, redirects followed by our own rules.

#include <cstddef>
#include <string>

#include "platform/HttpTransport.h"

// A version file is a few bytes; a body beyond this is refused unread.
constexpr std::size_t kMaxVersionBodyBytes = 64 * 1024;
constexpr int kMaxRedirects = 5;

// The message of a body longer than maxBytes, as the transport raises it.
std::wstring BodyTooLargeMessage(std::size_t maxBytes);

// Whether the status asks to be redirected: 300 to 303, 307 and 308.
bool IsRedirectStatus(int status);

// GETs url through session and follows redirects: a redirect status with a non-empty Location
// leads to a GET of that location resolved against the URL just requested (its fragment carried
// over). At most kMaxRedirects are followed; one more raises Exception "Maximale Anzahl von
// Umleitungen (5) überschritten". Returns the first response that is no such redirect; its status
// is not examined. Errors of the session and of resolving propagate unchanged.
HttpResponse FetchFollowingRedirects(HttpSession& session, const Url& url, std::size_t maxBytes);
