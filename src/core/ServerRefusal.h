#pragma once
// A final answer of the update server that is no success, with what the server asked of the
// client: its status and its Retry-After header (a 429 or 503 asks to come back later).

#include <string>

#include "core/Exception.h"

class ServerRefusal : public Exception {
 public:
  // url: the address the answer came from.
  ServerRefusal(int status, std::wstring retryAfter, const std::wstring& url);
  int Status() const { return status_; }
  // The header's value as sent, empty when there was none.
  const std::wstring& RetryAfter() const { return retryAfter_; }

 private:
  int status_;
  std::wstring retryAfter_;
};

// Whether a final status is a success that delivers the body (2xx).
bool IsSuccessStatus(int status);
