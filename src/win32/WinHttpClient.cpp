#include "win32/WinHttpClient.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "core/Exception.h"
#include "core/HttpFetch.h"
#include "core/WinHttpErrors.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"
#include "win32/WinHttpProxy.h"

const wchar_t* const kHttpUserAgent = L"WinHttpClient/1.0";

namespace {

constexpr DWORD kReadChunk = 8192;

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Raises the message of a failed WinHTTP call at the given stage of the exchange.
[[noreturn]] void RaiseTransportFailure(TransportStage stage, DWORD code) {
  if (IsCertificateFailure(code, RunningUnderWine())) throw Exception(kCertificateFailureMessage);
  throw Exception(TransportFailureMessage(stage, code, PlatformErrorText(code)));
}

void SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  if (!WinHttpSetOption(handle, option, &value, sizeof(value))) RaiseSystemError(GetLastError());
}

// The header's value, or the empty text when the response has none.
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

// Reads the body, at most maxBytes: one byte more fails the read, and nothing more is read.
std::string ReadBody(HINTERNET request, std::size_t maxBytes) {
  std::string body;
  std::vector<char> chunk(kReadChunk);
  for (;;) {
    std::size_t room = maxBytes + 1 - body.size();
    DWORD wanted = room < kReadChunk ? static_cast<DWORD>(room) : kReadChunk;
    DWORD read = 0;
    if (!WinHttpReadData(request, chunk.data(), wanted, &read)) {
      RaiseTransportFailure(TransportStage::Read, GetLastError());
    }
    if (read == 0) return body;
    body.append(chunk.data(), read);
    if (body.size() > maxBytes) throw Exception(BodyTooLargeMessage(maxBytes));
  }
}

std::wstring HostForConnect(const std::wstring& host) {
  if (host.size() >= 2 && host.front() == L'[' && host.back() == L']') {
    return host.substr(1, host.size() - 2);
  }
  return host;
}

class WinHttpSession : public HttpSession {
 public:
  WinHttpSession(const UserProxySetting& proxySetting, int timeoutMilliseconds)
      : proxySetting_(proxySetting),
        session_(WinHttpOpen(kHttpUserAgent, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0)) {
    if (!session_) RaiseSystemError(GetLastError());
    if (!WinHttpSetTimeouts(session_.Get(), timeoutMilliseconds, timeoutMilliseconds,
                            timeoutMilliseconds, timeoutMilliseconds)) {
      RaiseSystemError(GetLastError());
    }
    // Wine does not bound the wait for the response head by WinHttpSetTimeouts alone.
    SetDwordOption(session_.Get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, timeoutMilliseconds);
  }

  HttpResponse Get(const Url& url, std::size_t maxBodyBytes) override {
    UniqueInternetHandle connection(WinHttpConnect(session_.Get(), HostForConnect(url.host).c_str(),
                                                   static_cast<INTERNET_PORT>(url.port), 0));
    if (!connection) RaiseTransportFailure(TransportStage::Send, GetLastError());
    UniqueInternetHandle request(WinHttpOpenRequest(
        connection.Get(), L"GET", url.pathAndQuery.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, url.scheme == L"https" ? WINHTTP_FLAG_SECURE : 0));
    if (!request) RaiseTransportFailure(TransportStage::Send, GetLastError());
    SetDwordOption(request.Get(), WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
    ApplyProxy(proxySetting_, session_.Get(), request.Get(), url.ToString());
    if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
      RaiseTransportFailure(TransportStage::Send, GetLastError());
    }
    if (!WinHttpReceiveResponse(request.Get(), nullptr)) {
      RaiseTransportFailure(TransportStage::Receive, GetLastError());
    }
    HttpResponse response;
    response.status = QueryStatus(request.Get());
    response.location = QueryHeader(request.Get(), WINHTTP_QUERY_LOCATION);
    response.contentEncoding = QueryHeader(request.Get(), WINHTTP_QUERY_CONTENT_ENCODING);
    response.contentType = QueryHeader(request.Get(), WINHTTP_QUERY_CONTENT_TYPE);
    response.body = ReadBody(request.Get(), maxBodyBytes);
    return response;
  }

 private:
  UserProxySetting proxySetting_;  // a copy: the session may outlive its factory
  UniqueInternetHandle session_;
};

}  // namespace

std::unique_ptr<HttpSession> WinHttpClientFactory::Create() {
  return std::make_unique<WinHttpSession>(proxySetting_ ? *proxySetting_ : ProcessProxySetting(),
                                          timeoutMilliseconds_);
}
