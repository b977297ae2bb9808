#pragma once
// Verifies the ECDSA P-256 signatures of the signed release files (see core/ReleaseFiles.h).

#include <string>

class ReleaseSignatures {
 public:
  virtual ~ReleaseSignatures() = default;
  // Whether signature (base64 of r||s, 64 bytes) is valid for message under publicKey (base64 of
  // X||Y, 64 bytes). A text that is no such base64 is simply not valid. Never raises.
  virtual bool Verify(const std::string& publicKey, const std::string& message,
                      const std::string& signature) = 0;
};
