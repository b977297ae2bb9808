#pragma once
// The message of an error that the platform reports by a code.

#include <cstdint>
#include <string>

// "Systemfehler.  Code: <code>." CR LF and the platform's text for the code, freed of trailing
// blanks, line breaks and full stops; for code 0 "Ein Aufruf einer Betriebssystemfunktion ist
// fehlgeschlagen".
std::wstring FormatSystemErrorMessage(std::uint32_t code, const std::wstring& platformText);

// The platform's text with trailing blanks, line breaks and full stops removed.
std::wstring TrimPlatformText(const std::wstring& text);
