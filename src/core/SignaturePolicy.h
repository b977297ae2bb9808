#pragma once
// When a downloaded DLL counts as signed by an allowed signer: the pinned signer digests of the
// configuration, and the decision over what the platform found in the file's Authenticode
// signature. The platform only gathers facts; every verdict is made here.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Parses the value of SIGNATURSCHLUESSEL: SHA-256 digests of a signing certificate's
// SubjectPublicKeyInfo, 64 hex digits each, separated by ";", blanks around each allowed. Answers
// them in lower case; the empty (or all-blank) value gives none, which means no signature is
// required. Raises Exception naming the first entry that is no such digest.
std::vector<std::wstring> ParsePinnedDigests(const std::wstring& value);

// What the platform found in a file's Authenticode signature.
struct SignatureFacts {
  // WinVerifyTrust's result, as the HRESULT bit pattern; 0 is success.
  std::uint32_t trustResult = 0;
  // Whether a signer certificate and its chain could be taken from the signature.
  bool signerFound = false;
  // The signer chain's summary error flags (CERT_TRUST_STATUS.dwErrorStatus); 0 is none.
  std::uint32_t chainErrors = 0;
  // CertVerifyCertificateChainPolicy's verdict under the Authenticode policy; 0 is success.
  std::uint32_t policyError = 0;
  // Whether the signer certificate's enhanced key usage names code signing.
  bool codeSigningUsage = false;
  // SHA-256 of the signer certificate's encoded SubjectPublicKeyInfo, lower-case hex.
  std::wstring signerKeyDigest;
};

// Why the facts do not make an acceptable signature for these pins, or nothing when they do.
// The checks go in order: the trust verdict, the signer's chain, the Authenticode policy, the
// code-signing usage, the pin. Never called without pins.
std::optional<std::wstring> SignatureRefusal(const SignatureFacts& facts,
                                             const std::vector<std::wstring>& pins);

// The lower-case hex text of bytes.
std::wstring HexDigits(const unsigned char* bytes, std::size_t count);
