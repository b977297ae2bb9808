#pragma once
// Base64 through crypt32, the form in which the signed release files carry keys and signatures.

#include <optional>
#include <string>

// The standard alphabet with padding, on one line. Raises Exception when crypt32 fails.
std::string EncodeBase64(const std::string& bytes);

// The bytes of a text exactly as EncodeBase64 writes them (no blanks, no line breaks, the
// padding it needs); std::nullopt for any other text, so each byte string has one text only.
// Never raises.
std::optional<std::string> DecodeBase64(const std::string& text);
