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
  std::wstring retryAfter;       // the Retry-After header, empty when absent
  std::wstring etag;             // the ETag header, empty when absent
  std::wstring lastModified;     // the Last-Modified header, empty when absent
  std::string body;              // raw bytes, still content-coded
};

// Which bodies a GET reads.
enum class BodyReading {
  Always,          // every response's body, up to the limit
  UnlessRedirect,  // not a redirect's own body (a redirect status with a Location)
  Never,           // no body at all: status and headers only
};

class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // One GET of url, without following redirects. The body is read up to maxBodyBytes; a longer
  // body fails. Raises Exception with the complete message of the failure (for example
  // "Fehler beim Senden der Daten: (12029) ...").
  virtual HttpResponse Get(const Url& url, std::size_t maxBodyBytes) = 0;
  // As Get, reading the body only as `reading` says; a body left unread is dropped with the
  // connection and the response's body is empty. A session that cannot leave a body unread
  // reads it as Get does.
  virtual HttpResponse Get(const Url& url, std::size_t maxBodyBytes, BodyReading reading) {
    (void)reading;
    return Get(url, maxBodyBytes);
  }
  // Every later request of this session, redirects included, must end within `milliseconds`
  // from now, whatever its per-call time-outs; a request still running then fails as a time-out
  // of the stage it is in. A session without its own clock keeps only its per-call time-outs.
  virtual void LimitTotalTime(unsigned milliseconds) { (void)milliseconds; }
  // Every later request of this session asks only for a changed body: If-None-Match with etag,
  // If-Modified-Since with lastModified (each left out when empty); an unchanged one is answered
  // 304 without a body. A session that cannot ask so asks plainly.
  virtual void AskIfChangedSince(const std::wstring& etag, const std::wstring& lastModified) {
    (void)etag;
    (void)lastModified;
  }
};

class HttpClientFactory {
 public:
  virtual ~HttpClientFactory() = default;
  // A new client for one check. Raises Exception when none can be created.
  virtual std::unique_ptr<HttpSession> Create() = 0;
  // As Create; with proxyLogon (PROXYANMELDUNG=JA) the client may answer an administrator's
  // proxy that demands a logon, if its kind of client may at all. A factory without proxies
  // ignores it.
  virtual std::unique_ptr<HttpSession> Create(bool proxyLogon) {
    (void)proxyLogon;
    return Create();
  }
};
