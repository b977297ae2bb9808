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
#include "core/ResumeRule.h"
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
  Transfer(std::wstring url, std::wstring file, const DownloadLimits& limits,
           const PartialRecord& asked)
      : url(std::move(url)),
        file(std::move(file)),
        proxyLogon(limits.proxyLogon),
        guard(this->url, limits, GetTickCount64()),
        record(asked) {}

  std::optional<std::wstring> Progress(std::uint64_t more, std::uint64_t announced) {
    std::lock_guard<std::mutex> lock(mutex);
    bytes += more;
    record.held += more;
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
  // The bytes the body continues from (0: the whole file follows), and what the answer said.
  void Begin(std::uint64_t from, const std::wstring& etag, std::uint64_t total, bool startedOver) {
    std::lock_guard<std::mutex> lock(mutex);
    guard.CountHeld(from);
    record.held = from;
    if (from == 0) record.etag = etag;
    if (record.total == 0) record.total = total;
    this->startedOver = startedOver;
  }
  // Nothing of the partial file is worth keeping.
  void DropHeld() {
    std::lock_guard<std::mutex> lock(mutex);
    record.held = 0;
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
  const std::wstring file;
  const bool proxyLogon;
  std::mutex mutex;
  DownloadGuard guard;      // the fields from here to `cancelled` under mutex
  std::uint64_t bytes = 0;  // of this attempt
  PartialRecord record;     // what the file holds
  bool startedOver = false;
  HINTERNET request = nullptr;
  bool cancelled = false;
  // Set by the worker before it ends.
  std::optional<Exception> failure;
  std::optional<ServerRefusal> refusal;
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

void SendAndReceive(HINTERNET request, const std::wstring& headers) {
  if (!WinHttpSendRequest(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                          WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
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
                      const std::wstring& headers, UniqueInternetHandle& connection) {
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
  SendAndReceive(request, headers);
  const bool answered =
      AnswerProxyChallenge(request, route, HttpClientRole::Download, t.proxyLogon);
  if (answered) SendAndReceive(request, headers);
  if (QueryStatus(request) == 407) throw Exception(ProxyLogonFailure(answered));
  return request;
}

void MoveTo(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(file, to, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
    RaiseSystemError(GetLastError());
  }
}

// The partial file opened for writing, when it is a plain file (no link, no other hard link)
// that holds at least `held` bytes; null otherwise.
UniqueHandle OpenHeld(const std::wstring& path, std::uint64_t held) {
  UniqueHandle file = OpenInFolder(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
  BY_HANDLE_FILE_INFORMATION info;
  if (!file || !GetFileInformationByHandle(file.Get(), &info)) return UniqueHandle();
  const std::uint64_t size =
      (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  const bool plain =
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && info.nNumberOfLinks == 1;
  return plain && size >= held ? std::move(file) : UniqueHandle();
}

// The file the body goes into: the partial file when the record asks for the rest (the record
// is then let go of when the file does not hold its bytes), else a new file.
UniqueHandle OpenTarget(Transfer& t, std::uint64_t held) {
  if (held > 0) {
    if (UniqueHandle file = OpenHeld(t.file, held)) return file;
    t.DropHeld();
  }
  DeleteInFolder(t.file);
  UniqueHandle file =
      OpenInFolder(t.file, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (!file) RaiseSystemError(GetLastError());
  return file;
}

// Reads the body into the file from `from` on as it arrives; the guard sees every chunk. A body
// that ends before `end` (0: not known) is a cut-off transfer.
void ReadBody(Transfer& t, HINTERNET request, HANDLE file, std::uint64_t from,
              std::uint64_t announced, std::uint64_t end) {
  if (auto reason = t.Progress(0, announced)) throw Exception(*reason);
  MoveTo(file, from);
  std::vector<char> chunk(kChunkBytes);
  std::uint64_t held = from;
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
    if (!WriteFile(file, chunk.data(), read, &written, nullptr) || written != read) {
      RaiseSystemError(GetLastError());
    }
    held += read;
    if (auto reason = t.Progress(read, announced)) throw Exception(*reason);
  }
  if (end != 0 && held != end) throw Exception(CutOffText(held, end));
  if (auto reason = t.Finished()) throw Exception(*reason);
}

// The request's own headers: no content coding, and the rest of a partial file by its ETag.
std::wstring RequestHeaders(const PartialRecord& record) {
  std::wstring headers = L"Accept-Encoding: identity\r\n";
  if (record.held > 0) headers += RangeRequestHeaders(record);
  return headers;
}

// Judges the final answer against what was asked and prepares the file for its body; raises
// when the answer brings no body for it (the partial file stays) or does not fit the request
// (the partial file is dropped).
void BeginBody(Transfer& t, HINTERNET request, const Url& from, const PartialRecord& asked,
               HANDLE file) {
  const int status = QueryStatus(request);
  const std::wstring range =
      status == 206 ? QueryHeader(request, WINHTTP_QUERY_CONTENT_RANGE) : L"";
  const std::uint64_t length = ContentLength(request);
  switch (JudgeRangeAnswer(asked.held, asked.total, status, range)) {
    case RangeAnswer::LeavesPartial:
      throw ServerRefusal(status, QueryHeader(request, WINHTTP_QUERY_RETRY_AFTER), from.ToString());
    case RangeAnswer::Refused:
      t.DropHeld();
      if (status == 416) throw ServerRefusal(status, L"", from.ToString());
      throw Exception(RefusedRangeText(range));
    case RangeAnswer::Continue:
      t.Begin(asked.held, asked.etag, asked.total, false);
      ReadBody(t, request, file, asked.held, length, asked.total);
      return;
    case RangeAnswer::StartOver:
      break;
  }
  // A coded body's bytes are not the file's: nothing of it could be gone on from.
  const std::wstring coding = QueryHeader(request, WINHTTP_QUERY_CONTENT_ENCODING);
  const bool plain = coding.empty() || coding == L"identity";
  t.Begin(0, plain ? QueryHeader(request, WINHTTP_QUERY_ETAG) : L"", length, asked.held > 0);
  ReadBody(t, request, file, 0, length, length != 0 ? length : asked.total);
}

// The whole exchange: redirects by our own rules, then the body of the final answer.
void Fetch(Transfer& t) {
  WinHttpRoutes routes([](HINTERNET session) {
    if (!WinHttpSetTimeouts(session, kConnectMilliseconds, kConnectMilliseconds,
                            kConnectMilliseconds, kBodyReceiveMilliseconds)) {
      RaiseSystemError(GetLastError());
    }
    SetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, kConnectMilliseconds);
  });
  const UniqueHandle file = OpenTarget(t, t.record.held);
  PartialRecord asked;
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    asked = t.record;
  }
  const std::wstring headers = RequestHeaders(asked);
  Url current = ParseUrl(t.url);
  for (int followed = 0;; ++followed) {
    UniqueInternetHandle connection;
    HINTERNET request = OpenRequest(t, routes, current, headers, connection);
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
    try {
      BeginBody(t, request, current, asked, file.Get());
    } catch (...) {
      // What arrived is on the disk before the record that names it.
      FlushFileBuffers(file.Get());
      throw;
    }
    if (!FlushFileBuffers(file.Get())) RaiseSystemError(GetLastError());
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
    if (GetTickCount64() >= *giveUpAt) throw Exception(*reason);
  }
}

}  // namespace

void WinHttpDownloader::Download(const std::wstring& url, const std::wstring& file,
                                 const DownloadLimits& limits, PartialTransfer& partial) {
  RequireWebAddress(url);
  auto transfer = std::make_shared<Transfer>(url, file, limits, partial.record);
  auto* parameter = new std::shared_ptr<Transfer>(transfer);
  const UniqueHandle worker(CreateThread(nullptr, 0, TransferMain, parameter, 0, nullptr));
  if (!worker) {
    const DWORD error = GetLastError();
    delete parameter;
    RaiseSystemError(error);
  }
  try {
    WaitForTransfer(*transfer, worker.Get());
  } catch (const Exception&) {
    // Left to end alone, the worker may still write: nothing of the file is to be kept.
    std::lock_guard<std::mutex> lock(transfer->mutex);
    partial.record = transfer->record;
    partial.record.held = 0;
    throw;
  }
  partial.record = transfer->record;
  partial.startedOver = transfer->startedOver;
  if (const auto& reason = transfer->guard.Reason()) throw Exception(*reason);
  if (transfer->refusal) throw *transfer->refusal;
  if (transfer->failure) throw *transfer->failure;
}
