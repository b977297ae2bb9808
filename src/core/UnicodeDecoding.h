#pragma once
// Strict decoding of the Unicode encodings into std::wstring (UTF-16 where wchar_t has 16 bits,
// UTF-32 where it has 32). Invalid input never yields replacement characters: it raises. And
// the one encoding the system writes itself, UTF-8.

#include <string>

// The message of every decoding failure.
extern const wchar_t* const kNoUnicodeMappingMessage;

// UTF-8. A leading byte-order mark (EF BB BF) is dropped. Raises Exception with
// kNoUnicodeMappingMessage on any invalid sequence: stray or missing continuation bytes,
// overlong forms, surrogates, values above U+10FFFF, a truncated end.
std::wstring DecodeUtf8(const std::string& bytes);

// UTF-16 (bigEndian or little). A leading byte-order mark of that order is dropped. An odd
// length or an unpaired surrogate raises as above.
std::wstring DecodeUtf16(const std::string& bytes, bool bigEndian);

// UTF-32 (bigEndian or little). A leading byte-order mark of that order is dropped. A length not
// divisible by 4, a surrogate or a value above U+10FFFF raises as above.
std::wstring DecodeUtf32(const std::string& bytes, bool bigEndian);

// UTF-8 of the text; an unpaired surrogate becomes U+FFFD, as the platform's conversion does.
std::string EncodeUtf8(const std::wstring& text);

// Appends the UTF-8 bytes of one code point (up to U+10FFFF), unchecked: a surrogate is written
// as its three bytes, which DecodeUtf8 then refuses.
void AppendUtf8(char32_t c, std::string& out);
