#pragma once
// Reads a file's Authenticode signature with wintrust, crypt32 and CNG: WinVerifyTrust's verdict
// (no user interface, revocation only from what is cached, never fetched), the signer's chain,
// the Authenticode chain policy, the signer certificate's enhanced key usage and the SHA-256 of
// its encoded SubjectPublicKeyInfo. Wine's WinVerifyTrust alone accepts chains and usages that
// Windows refuses, so every one of these facts is gathered and SignatureRefusal weighs them all.

#include "platform/SignatureVerifier.h"

class AuthenticodeVerifier : public SignatureVerifier {
 public:
  SignatureFacts Inspect(const std::wstring& file, HeldFile& held) override;
};
