#include "win32/WinHttpDownloader.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "core/HttpFetch.h"
#include "core/ProxyLogon.h"
#include "core/ServerRefusal.h"
#include "core/Url.h"
#include "win32/HeldFolders.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"
#include "win32/WinHttpClient.h"
#include "win32/WinHttpProxy.h"
#include "win32/WinHttpRoutes.h"

namespace {

constexpr DWORD kWatchMilliseconds = 250;
// A transfer told to end that has not ended after this long is left to end alone (a read that
// Wine does not let go of ends at its own time-out below).
constexpr ULONGLONG kAbandonAfterMilliseconds = 10000;
constexpr int kConnectMilliseconds = 60000;
// A single wait for body bytes longer than the progress rule's window fails the rule anyway.
constexpr int kBodyReceiveMilliseconds = 125000;
constexpr DWORD kChunkBytes = 64 * 1024;

// One transfer, shared by the waiting thread and the worker; the last to let go frees it.
struct Transfer {
  Transfer(std::wstring url, std::wstring partFile, const DownloadLimits& limits)
      : url(std::move(url)),
        partFile(std::move(partFile)),
        proxyLogon(limits.proxyLogon),
        guard(this->url, limits, GetTickCount64()) {}

  std::optional<std::wstring> Progress(std::uint64_t more, std::uint64_t announced) {
    std::lock_guard<std::mutex> lock(mutex);
    bytes += more;
    return guard.OnProgress(bytes, announced, GetTickCount64());
  }
  std::optional<std::wstring> Check() {
    std::lock_guard<std::mutex> lock(mutex);
    return guard.OnProgress(bytes, 0, GetTickCount64());
  }
  std::optional<std::wstring> Redirect(const std::wstring& to) {
    std::lock_guard<std::mutex> lock(mutex);
    return guard.OnRedirect(to);
  }
  std::optional<std::wstring> Finished() {
    std::lock_guard<std::mutex> lock(mutex);
    return guard.OnFinished(bytes, GetTickCount64());
  }
  // The request now being read; false when the transfer was cancelled already.
  bool Publish(HINTERNET handle) {
    std::lock_guard<std::mutex> lock(mutex);
    request = handle;
    return !cancelled;
  }
  // Closes the request once, whichever thread comes first; a read that waits on it then fails.
  void CloseRequest(bool cancel) {
    std::lock_guard<std::mutex> lock(mutex);
    cancelled = cancelled || cancel;
    if (request != nullptr) WinHttpCloseHandle(std::exchange(request, nullptr));
  }

  const std::wstring url;
  const std::wstring partFile;
  const bool proxyLogon;
  std::mutex mutex;
  DownloadGuard guard;  // the fields from here to `cancelled` under mutex
  std::uint64_t bytes = 0;
  HINTERNET request = nullptr;
  bool cancelled = false;
  // Set by the worker before it ends.
  std::optional<Exception> failure;
  std::optional<ServerRefusal> refusal;
  bool abandoned = false;  // under mutex: the worker removes its part file itself
};

void SetOption(HINTERNET handle, DWORD option, DWORD value) {
  if (!WinHttpSetOption(handle, option, &value, sizeof(value))) RaiseSystemError(GetLastError());
}

std::uint64_t ContentLength(HINTERNET request) {
  const std::wstring text = QueryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
  std::uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9' || value > (UINT64_MAX - 9) / 10) return 0;
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return value;
}

void SendAndReceive(HINTERNET request) {
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                          0)) {
    RaiseTransportFailure(TransportStage::Send, GetLastError());
  }
  if (!WinHttpReceiveResponse(request, nullptr)) {
    RaiseTransportFailure(TransportStage::Receive, GetLastError());
  }
}

// Sends one GET along the route that the proxy setting gives and receives its head; an
// administrator's proxy that demands a logon may get the machine's identity once. Answers the
// open request (published to the transfer); a 407 that remains fails the download.
HINTERNET OpenRequest(Transfer& t, WinHttpRoutes& routes, const Url& url,
                      UniqueInternetHandle& connection) {
  // An IPv6 literal is connected to without its brackets.
  const bool bracketed =
      url.host.size() >= 2 && url.host.front() == L'[' && url.host.back() == L']';
  const std::wstring host = bracketed ? url.host.substr(1, url.host.size() - 2) : url.host;
  const ProxyDecision route = RouteRequest(ProcessProxySetting(), routes.Direct(), url);
  connection.Reset(WinHttpConnect(routes.SessionFor(route), host.c_str(),
                                  static_cast<INTERNET_PORT>(url.port), 0));
  if (!connection) RaiseTransportFailure(TransportStage::Send, GetLastError());
  HINTERNET request = WinHttpOpenRequest(connection.Get(), L"GET", url.pathAndQuery.c_str(),
                                         nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         url.scheme == L"https" ? WINHTTP_FLAG_SECURE : 0);
  if (request == nullptr) RaiseTransportFailure(TransportStage::Send, GetLastError());
  if (!t.Publish(request)) {
    t.CloseRequest(false);
    throw Exception(L"abgebrochen");
  }
  SetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
  SendAndReceive(request);
  const bool answered =
      AnswerProxyChallenge(request, route, HttpClientRole::Download, t.proxyLogon);
  if (answered) SendAndReceive(request);
  if (QueryStatus(request) == 407) throw Exception(ProxyLogonFailure(answered));
  return request;
}

// Reads the body into the part file as it arrives; the guard sees every chunk.
void ReadBody(Transfer& t, HINTERNET request, std::uint64_t announced) {
  if (auto reason = t.Progress(0, announced)) throw Exception(*reason);
  UniqueHandle file =
      OpenInFolder(t.partFile, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (!file) RaiseSystemError(GetLastError());
  std::vector<char> chunk(kChunkBytes);
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) {
      RaiseTransportFailure(TransportStage::Read, GetLastError());
    }
    if (available == 0) break;
    DWORD read = 0;
    if (!WinHttpReadData(request, chunk.data(), available < kChunkBytes ? available : kChunkBytes,
                         &read)) {
      RaiseTransportFailure(TransportStage::Read, GetLastError());
    }
    if (read == 0) break;
    DWORD written = 0;
    if (!WriteFile(file.Get(), chunk.data(), read, &written, nullptr) || written != read) {
      RaiseSystemError(GetLastError());
    }
    if (auto reason = t.Progress(read, announced)) throw Exception(*reason);
  }
  if (!FlushFileBuffers(file.Get())) RaiseSystemError(GetLastError());
  if (auto reason = t.Finished()) throw Exception(*reason);
}

// The whole exchange: redirects by our own rules, then the body of the final 2xx answer.
void Fetch(Transfer& t) {
  WinHttpRoutes routes([](HINTERNET session) {
    if (!WinHttpSetTimeouts(session, kConnectMilliseconds, kConnectMilliseconds,
                            kConnectMilliseconds, kBodyReceiveMilliseconds)) {
      RaiseSystemError(GetLastError());
    }
    SetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, kConnectMilliseconds);
  });
  Url current = ParseUrl(t.url);
  for (int followed = 0;; ++followed) {
    UniqueInternetHandle connection;
    HINTERNET request = OpenRequest(t, routes, current, connection);
    const int status = QueryStatus(request);
    const std::wstring location = QueryHeader(request, WINHTTP_QUERY_LOCATION);
    if (IsRedirectStatus(status) && !location.empty()) {
      t.CloseRequest(false);
      if (followed == kMaxRedirects) {
        throw Exception(L"Maximale Anzahl von Umleitungen (" + std::to_wstring(kMaxRedirects) +
                        L") überschritten");
      }
      Url next = ResolveRedirect(current, location);
      if (auto reason = t.Redirect(next.ToString())) throw Exception(*reason);
      current = std::move(next);
      continue;
    }
    if (!IsSuccessStatus(status)) {
      throw ServerRefusal(status, QueryHeader(request, WINHTTP_QUERY_RETRY_AFTER),
                          current.ToString());
    }
    ReadBody(t, request, ContentLength(request));
    t.CloseRequest(false);
    return;
  }
}

DWORD WINAPI TransferMain(void* parameter) {
  std::unique_ptr<std::shared_ptr<Transfer>> owner(
      static_cast<std::shared_ptr<Transfer>*>(parameter));
  Transfer& t = **owner;
  try {
    Fetch(t);
  } catch (const ServerRefusal& e) {
    t.refusal = e;
  } catch (const Exception& e) {
    t.failure = e;
  } catch (...) {
    t.failure = Exception(L"Der Download ist fehlgeschlagen");
  }
  t.CloseRequest(false);
  std::lock_guard<std::mutex> lock(t.mutex);
  if (t.abandoned) DeleteInFolder(t.partFile);
  return 0;
}

// Waits for the worker, asking the guard between waits. A transfer that broke a limit is ended
// at once; one that does not end within kAbandonAfterMilliseconds after that is left alone.
void WaitForTransfer(Transfer& t, HANDLE worker) {
  std::optional<ULONGLONG> giveUpAt;
  while (WaitForSingleObject(worker, kWatchMilliseconds) == WAIT_TIMEOUT) {
    const std::optional<std::wstring> reason = t.Check();
    if (!reason) continue;
    if (!giveUpAt) {
      giveUpAt = GetTickCount64() + kAbandonAfterMilliseconds;
      t.CloseRequest(true);
    }
    if (GetTickCount64() >= *giveUpAt) {
      std::lock_guard<std::mutex> lock(t.mutex);
      t.abandoned = true;
      throw Exception(*reason);
    }
  }
}

}  // namespace

void WinHttpDownloader::Download(const std::wstring& url, const std::wstring& file,
                                 const DownloadLimits& limits) {
  RequireWebAddress(url);
  auto transfer = std::make_shared<Transfer>(url, file + L".part", limits);
  DeleteInFolder(transfer->partFile);
  auto* parameter = new std::shared_ptr<Transfer>(transfer);
  const UniqueHandle worker(CreateThread(nullptr, 0, TransferMain, parameter, 0, nullptr));
  if (!worker) {
    const DWORD error = GetLastError();
    delete parameter;
    RaiseSystemError(error);
  }
  WaitForTransfer(*transfer, worker.Get());
  try {
    if (const auto& reason = transfer->guard.Reason()) throw Exception(*reason);
    if (transfer->refusal) throw *transfer->refusal;
    if (transfer->failure) throw *transfer->failure;
    if (!RenameInFolder(transfer->partFile, file, true)) RaiseSystemError(GetLastError());
  } catch (...) {
    DeleteInFolder(transfer->partFile);
    throw;
  }
}
