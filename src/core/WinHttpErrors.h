#pragma once
// Texts for the error codes of the HTTP transport (WinHTTP and Winsock). Windows' own message
// table has no texts for most of them under every system, so the client keeps its own.

#include <cstdint>
#include <string>

// Where in an exchange a transport failure happened; chooses the message's prefix.
enum class TransportStage {
  Send,     // resolving, connecting, the secure channel, sending the request
  Receive,  // waiting for and receiving the response head
  Read,     // reading the body
};

// Our own German text for a transport error code, or the empty text when we have none.
std::wstring TransportErrorText(std::uint32_t code);

// "Fehler beim Senden der Daten: (%d) %s" and its siblings for Receive and Read. The text is our
// own for the code, else fallbackText (the platform's).
std::wstring TransportFailureMessage(TransportStage stage, std::uint32_t code,
                                     const std::wstring& fallbackText);

// Whether the code means the server certificate failed validation. Windows reports that with
// 12175 and the specific certificate codes; Wine folds every rejected certificate into 12157,
// which on Windows means the secure channel itself failed, so that code counts only there.
bool IsCertificateFailure(std::uint32_t code, bool runningUnderWine);

// The message of a server certificate that failed validation.
extern const wchar_t* const kCertificateFailureMessage;
