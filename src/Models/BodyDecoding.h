#pragma once
// Turns the body of the version file's response into text.

#include <cstddef>
#include <string>

#include "platform/HttpTransport.h"

class TextCodec;

// The value of the Content-Type header's charset parameter, or the empty text when it has none.
// The header is split at ";"; the first part whose name begins with "charset" (in any case,
// leading blanks ignored) gives the value after its "=", freed of surrounding blanks and control
// characters, then of one pair of enclosing single quotes, then of one pair of enclosing double
// quotes.
std::wstring CharsetParameter(const std::wstring& contentType);

// Bytes in the named charset as text. No charset, or "utf-8" in any case, is strict UTF-8 with a
// leading byte-order mark dropped; the Unicode encodings are decoded by the core itself; other
// code pages through codec. Raises Exception "Ungültiger Codierungsname" for a name that is not
// recognised or a code page the platform cannot decode, and the decoder's message for bytes
// that are not valid in the charset.
std::wstring DecodeCharset(const std::string& bytes, const std::wstring& charset, TextCodec* codec);

// The body of the final response as text: inflated when its Content-Encoding is gzip or deflate
// (at most maxBytes after inflating), then decoded by its charset. Blanks and line breaks stay.
std::wstring DecodeBody(const HttpResponse& response, TextCodec* codec, std::size_t maxBytes);
