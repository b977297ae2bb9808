#pragma once
// The request policy of the version check and the download: the limits, which statuses
// redirect, and the texts of what is refused.

#include <cstddef>
#include <string>

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

// An ETag that promises byte-equal answers: "..." of visible ASCII other than '"', at most 256
// characters; never a weak one (W/"..."), which promises equal meaning only. Only such a one is
// kept to ask with again.
bool IsStrongEtag(const std::wstring& etag);
