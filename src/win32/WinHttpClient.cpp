#include "win32/WinHttpClient.h"

#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <vector>

#include "core/Exception.h"
#include "core/HttpFetch.h"
#include "core/WinHttpErrors.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"
#include "win32/WinHttpProxy.h"
#include "win32/WinHttpRoutes.h"

const wchar_t* const kHttpUserAgent = L"WinHttpClient/1.0";

namespace {

constexpr DWORD kReadChunk = 8192;

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

void RaiseTransportFailure(TransportStage stage, DWORD code) {
  if (IsCertificateFailure(code, RunningUnderWine())) throw Exception(kCertificateFailureMessage);
  throw Exception(TransportFailureMessage(stage, code, PlatformErrorText(code)));
}

namespace {

void SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  if (!WinHttpSetOption(handle, option, &value, sizeof(value))) RaiseSystemError(GetLastError());
}

}  // namespace

std::wstring QueryHeader(HINTERNET request, DWORD header) {
  DWORD bytes = 0;
  if (WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                          &bytes, WINHTTP_NO_HEADER_INDEX)) {
    return L"";
  }
  DWORD code = GetLastError();
  if (code == ERROR_WINHTTP_HEADER_NOT_FOUND) return L"";
  if (code != ERROR_INSUFFICIENT_BUFFER) RaiseTransportFailure(TransportStage::Receive, code);
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
  if (!WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    RaiseTransportFailure(TransportStage::Receive, GetLastError());
  }
  return std::wstring(buffer.data(), bytes / sizeof(wchar_t));
}

int QueryStatus(HINTERNET request) {
  DWORD status = 0;
  DWORD bytes = sizeof(status);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    RaiseTransportFailure(TransportStage::Receive, GetLastError());
  }
  return static_cast<int>(status);
}

namespace {

// The overall deadline of a session's requests, when one was set: each call's time-outs are cut
// to what is left of it, and a stage that begins after it fails as a time-out.
class Deadline {
 public:
  explicit Deadline(DWORD perCall) : perCall_(perCall) {}
  void Set(unsigned milliseconds) { end_ = GetTickCount64() + milliseconds; }
  // The time-out for the next call: the per-call time-out, or less when the deadline is nearer.
  DWORD Timeout(TransportStage stage) const {
    if (!end_) return perCall_;
    const ULONGLONG now = GetTickCount64();
    if (now >= *end_) RaiseTransportFailure(stage, ERROR_WINHTTP_TIMEOUT);
    const ULONGLONG left = *end_ - now;
    return left < perCall_ ? static_cast<DWORD>(left) : perCall_;
  }
  void Check(TransportStage stage) const { (void)Timeout(stage); }
  bool Limited() const { return end_.has_value(); }

 private:
  DWORD perCall_;
  std::optional<ULONGLONG> end_;
};

void SetRequestTimeouts(HINTERNET request, DWORD timeout) {
  if (!WinHttpSetTimeouts(request, static_cast<int>(timeout), static_cast<int>(timeout),
                          static_cast<int>(timeout), static_cast<int>(timeout))) {
    RaiseSystemError(GetLastError());
  }
  SetDwordOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, timeout);
}

// Reads the body, at most maxBytes: one byte more fails the read, and nothing more is read. Only
// what has arrived is read at a time, so a server that trickles its body cannot hold a read past
// the deadline.
std::string ReadBody(HINTERNET request, std::size_t maxBytes, const Deadline& deadline) {
  std::string body;
  std::vector<char> chunk(kReadChunk);
  for (;;) {
    if (deadline.Limited()) {
      SetDwordOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT,
                     deadline.Timeout(TransportStage::Read));
    }
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      RaiseTransportFailure(TransportStage::Read, GetLastError());
    }
    deadline.Check(TransportStage::Read);
    if (available == 0) return body;
    std::size_t room = maxBytes + 1 - body.size();
    DWORD wanted = room < kReadChunk ? static_cast<DWORD>(room) : kReadChunk;
    if (available < wanted) wanted = available;
    DWORD read = 0;
    if (!WinHttpReadData(request, chunk.data(), wanted, &read)) {
      RaiseTransportFailure(TransportStage::Read, GetLastError());
    }
    if (read == 0) return body;
    body.append(chunk.data(), read);
    if (body.size() > maxBytes) throw Exception(BodyTooLargeMessage(maxBytes));
  }
}

bool ReadsBody(BodyReading reading, const HttpResponse& response) {
  if (reading == BodyReading::Never) return false;
  if (reading == BodyReading::Always) return true;
  return !(IsRedirectStatus(response.status) && !response.location.empty());
}

std::wstring HostForConnect(const std::wstring& host) {
  if (host.size() >= 2 && host.front() == L'[' && host.back() == L']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

class WinHttpSession : public HttpSession {
 public:
  WinHttpSession(const UserProxySetting& proxySetting, int timeoutMilliseconds, HttpClientRole role,
                 bool proxyLogon)
      : proxySetting_(proxySetting),
        role_(role),
        proxyLogon_(proxyLogon),
        deadline_(static_cast<DWORD>(timeoutMilliseconds)),
        routes_([timeoutMilliseconds](HINTERNET session) {
          if (!WinHttpSetTimeouts(session, timeoutMilliseconds, timeoutMilliseconds,
                                  timeoutMilliseconds, timeoutMilliseconds)) {
            RaiseSystemError(GetLastError());
          }
          // Wine does not bound the wait for the response head by WinHttpSetTimeouts alone.
          SetDwordOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, timeoutMilliseconds);
        }) {}

  HttpResponse Get(const Url& url, std::size_t maxBodyBytes) override {
    return Get(url, maxBodyBytes, BodyReading::Always);
  }

  void LimitTotalTime(unsigned milliseconds) override { deadline_.Set(milliseconds); }

  // Header values come from our own records of an earlier answer; a line break in one would add
  // a header of its own, so such a value is left out.
  void AskIfChangedSince(const std::wstring& etag, const std::wstring& lastModified) override {
    const auto safe = [](const std::wstring& v) {
      return !v.empty() && v.find_first_of(L"\r\n") == std::wstring::npos;
    };
    extraHeaders_.clear();
    if (safe(etag)) extraHeaders_ += L"If-None-Match: " + etag + L"\r\n";
    if (safe(lastModified)) extraHeaders_ += L"If-Modified-Since: " + lastModified + L"\r\n";
  }

  HttpResponse Get(const Url& url, std::size_t maxBodyBytes, BodyReading reading) override {
    const DWORD timeout = deadline_.Timeout(TransportStage::Send);
    const ProxyDecision route = RouteRequest(proxySetting_, routes_.Direct(), url);
    UniqueInternetHandle connection(WinHttpConnect(routes_.SessionFor(route),
                                                   HostForConnect(url.host).c_str(),
                                                   static_cast<INTERNET_PORT>(url.port), 0));
    if (!connection) RaiseTransportFailure(TransportStage::Send, GetLastError());
    UniqueInternetHandle request(WinHttpOpenRequest(
        connection.Get(), L"GET", url.pathAndQuery.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, url.scheme == L"https" ? WINHTTP_FLAG_SECURE : 0));
    if (!request) RaiseTransportFailure(TransportStage::Send, GetLastError());
    if (deadline_.Limited()) SetRequestTimeouts(request.Get(), timeout);
    SetDwordOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
    SendAndReceive(request.Get());
    // An administrator's proxy that asks who we are (407) may get the machine's identity, once.
    if (AnswerProxyChallenge(request.Get(), route, role_, proxyLogon_)) {
      SendAndReceive(request.Get());
    }
    HttpResponse response;
    response.status = QueryStatus(request.Get());
    response.location = QueryHeader(request.Get(), WINHTTP_QUERY_LOCATION);
    response.contentEncoding = QueryHeader(request.Get(), WINHTTP_QUERY_CONTENT_ENCODING);
    response.contentType = QueryHeader(request.Get(), WINHTTP_QUERY_CONTENT_TYPE);
    response.retryAfter = QueryHeader(request.Get(), WINHTTP_QUERY_RETRY_AFTER);
    response.etag = QueryHeader(request.Get(), WINHTTP_QUERY_ETAG);
    response.lastModified = QueryHeader(request.Get(), WINHTTP_QUERY_LAST_MODIFIED);
    if (ReadsBody(reading, response)) {
      response.body = ReadBody(request.Get(), maxBodyBytes, deadline_);
    }
    return response;
  }

 private:
  void SendAndReceive(HINTERNET request) {
    const wchar_t* headers = extraHeaders_.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS
                                                   : extraHeaders_.c_str();
    const DWORD headersLength = extraHeaders_.empty() ? 0 : static_cast<DWORD>(-1L);
    if (!WinHttpSendRequest(request, headers, headersLength, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
      RaiseTransportFailure(TransportStage::Send, GetLastError());
    }
    if (deadline_.Limited())
      SetRequestTimeouts(request, deadline_.Timeout(TransportStage::Receive));
    if (!WinHttpReceiveResponse(request, nullptr)) {
      RaiseTransportFailure(TransportStage::Receive, GetLastError());
    }
    deadline_.Check(TransportStage::Receive);
  }

  UserProxySetting proxySetting_;  // a copy: the session may outlive its factory
  HttpClientRole role_;
  bool proxyLogon_;
  Deadline deadline_;
  WinHttpRoutes routes_;
  std::wstring extraHeaders_;  // CR LF after each; empty: none
};

}  // namespace

std::unique_ptr<HttpSession> WinHttpClientFactory::Create() { return Create(false); }

std::unique_ptr<HttpSession> WinHttpClientFactory::Create(bool proxyLogon) {
  return std::make_unique<WinHttpSession>(proxySetting_ ? *proxySetting_ : ProcessProxySetting(),
                                          timeoutMilliseconds_, role_, proxyLogon);
}
