#pragma once
// Reads a file's Authenticode signature. Only gathers what the platform found; the verdict is
// SignatureRefusal's (core/SignaturePolicy.h).

#include <string>

#include "core/SignaturePolicy.h"

class HeldFile;

class SignatureVerifier {
 public:
  virtual ~SignatureVerifier() = default;
  // Verifies the embedded signature of the file held open as `held` (at path `file`), reading it
  // through that handle, without any user interface and without fetching revocation data from the
  // network, and answers what it found. Raises Exception only when the platform cannot be asked.
  virtual SignatureFacts Inspect(const std::wstring& file, HeldFile& held) = 0;
};
