#pragma once
// Charset names of the Content-Type header and the code pages they denote.

#include <optional>
#include <string>

// Code pages that the core decodes itself, whatever the platform offers.
constexpr unsigned kCodePageUtf16LE = 1200;
constexpr unsigned kCodePageUtf16BE = 1201;
constexpr unsigned kCodePageUtf32LE = 12000;
constexpr unsigned kCodePageUtf32BE = 12001;
constexpr unsigned kCodePageUtf8 = 65001;

// The code page of a registered charset name or alias (compared without regard to case), or of
// "cp" followed by a decimal code page number ("cp1252", "CP850"); std::nullopt for any other
// name. Whether the platform can decode that code page is not checked here.
std::optional<unsigned> CodePageForCharset(const std::wstring& name);
