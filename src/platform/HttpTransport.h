#pragma once
// One HTTP client for one version check: the session keeps its cookies across the requests made
// through it and is destroyed with its last request.

#include <memory>
#include <string>

#include "core/Url.h"

struct HttpResponse {
  int status = 0;
  std::wstring location;         // the Location header, empty when absent
  std::wstring contentEncoding;  // the Content-Encoding header, empty when absent
  std::wstring contentType;      // the Content-Type header, empty when absent
  std::string body;              // raw bytes, still content-coded
};

class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // One GET of url, without following redirects. The body is read up to maxBodyBytes; a longer
  // body fails. Raises Exception with the complete message of the failure (for example
  // "Fehler beim Senden der Daten: (12029) ...").
  virtual HttpResponse Get(const Url& url, std::size_t maxBodyBytes) = 0;
};

class HttpClientFactory {
 public:
  virtual ~HttpClientFactory() = default;
  // A new client for one check. Raises Exception when none can be created.
  virtual std::unique_ptr<HttpSession> Create() = 0;
};
