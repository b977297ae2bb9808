#pragma once
// Undoes the content coding of a response body with zlib.

#include <cstddef>
#include <string>

// The body inflated when contentEncoding is exactly "gzip" (RFC 1952) or "deflate" (zlib format,
// RFC 1950); any other coding, or none, returns the body unchanged. Inflating stops as soon as
// the output would exceed maxBytes, which raises Exception ("Fehler beim Lesen der Daten: ..."),
// so a small body cannot expand into a large allocation. A damaged or truncated stream, or bytes
// after its end, raise Exception too.
std::string InflateContent(const std::wstring& contentEncoding, const std::string& body,
                           std::size_t maxBytes);
