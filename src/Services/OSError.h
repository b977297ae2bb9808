#pragma once
// An error the platform reported by a code; its message is "Systemfehler.  Code: %d." with the
// platform's text. The code becomes the exit code of a failed registration or removal.

#include <cstdint>

#include "core/Exception.h"

class EOSError : public Exception {
 public:
  EOSError(std::uint32_t errorCode, std::wstring message, std::uintptr_t codeAddress = 0)
      : Exception(std::move(message)), errorCode_(errorCode), codeAddress_(codeAddress) {}
  const char* ClassName() const noexcept override { return "EOSError"; }
  std::uint32_t ErrorCode() const noexcept { return errorCode_; }
  // Where the failed call was made; shown by the "Anwendungsfehler" box.
  std::uintptr_t CodeAddress() const noexcept { return codeAddress_; }

 private:
  std::uint32_t errorCode_;
  std::uintptr_t codeAddress_;
};
