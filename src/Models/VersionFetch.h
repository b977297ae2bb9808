#pragma once
// One GET of the version file through an HTTP session, redirects followed by our own rules
// (core/HttpFetch.h).

#include <cstddef>

#include "core/HttpFetch.h"
#include "platform/HttpTransport.h"

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
