#include "win32/UrlmonDownloader.h"

#include <windows.h>
// After windows.h, which it needs.
#include <urlmon.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>

#include "core/Exception.h"
#include "core/HttpFetch.h"
#include "win32/InternetCache.h"
#include "win32/ScopedHandle.h"
#include "win32/Win32Error.h"

namespace {
// urlmon's own codes have no system text: our own words for the ones a download meets.
const wchar_t* DownloadErrorText(HRESULT result) {
  switch (static_cast<unsigned long>(result)) {
    case 0x800C0002:
      return L"Ungültiger URL";
    case 0x800C0003:
      return L"Keine Sitzung";
    case 0x800C0004:
      return L"Keine Verbindung zum Server";
    case 0x800C0005:
      return L"Server oder Ressource nicht gefunden";
    case 0x800C0006:
      return L"Objekt nicht gefunden";
    case 0x800C0007:
      return L"Keine Daten verfügbar";
    case 0x800C0008:
      return L"Der Download ist fehlgeschlagen";
    case 0x800C000B:
      return L"Zeitüberschreitung der Verbindung";
    case 0x800C000E:
      return L"Sicherheitsproblem";
    case 0x800C0019:
      return L"Serverzertifikat ungültig oder nicht vorhanden";
    case 0x800C0011:
      return L"Unbekanntes Protokoll";
    case 0x80070005:
      return L"Zugriff verweigert";
    default:
      return L"Der Download ist fehlgeschlagen";
  }
}

// How often the waiting service thread looks at the clock and the stop request, and how long a
// transfer that was told to end may take to do so before it is left to end on its own (a server
// that sends nothing at all gives urlmon no chance to report progress).
constexpr DWORD kWatchMilliseconds = 250;
constexpr ULONGLONG kAbandonAfterMilliseconds = 10000;

// One transfer, shared by the service thread and the worker thread that runs urlmon; the last of
// the two to let go frees it.
struct Transfer {
  Transfer(std::wstring address, std::wstring partFile, const DownloadLimits& limits,
           std::wstring originalUrl)
      : address(std::move(address)),
        partFile(std::move(partFile)),
        guard(std::move(originalUrl), limits, GetTickCount64()) {}

  // The guard's verdict for what the worker has seen so far and the time now.
  std::optional<std::wstring> Check(std::uint64_t bytes, std::uint64_t announced) {
    std::lock_guard<std::mutex> lock(mutex);
    return guard.OnProgress(bytes, announced, GetTickCount64());
  }
  std::optional<std::wstring> Redirect(const std::wstring& to) {
    std::lock_guard<std::mutex> lock(mutex);
    return guard.OnRedirect(to);
  }
  std::optional<std::wstring> Finished(std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex);
    return guard.OnFinished(bytes, GetTickCount64());
  }

  const std::wstring address;
  const std::wstring partFile;
  std::mutex mutex;
  DownloadGuard guard;
  std::uint64_t bytes = 0;  // what urlmon reported last, read under mutex
  HRESULT result = E_FAIL;
  std::atomic<bool> abandoned{false};
};

// Ends the transfer through its binding as soon as the guard gives a reason: returning E_ABORT
// alone is ignored by some urlmon implementations.
class BindCallback final : public IBindStatusCallback {
 public:
  explicit BindCallback(std::shared_ptr<Transfer> transfer) : transfer_(std::move(transfer)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (riid == IID_IUnknown || riid == IID_IBindStatusCallback) {
      *out = static_cast<IBindStatusCallback*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE OnStartBinding(DWORD, IBinding* binding) override {
    Keep(binding);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetPriority(LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnLowResource(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnProgress(ULONG progress, ULONG progressMax, ULONG status,
                                       LPCWSTR text) override {
    std::optional<std::wstring> reason;
    if (status == BINDSTATUS_REDIRECTING && text != nullptr) {
      reason = transfer_->Redirect(text);
    } else if (status == BINDSTATUS_BEGINDOWNLOADDATA || status == BINDSTATUS_DOWNLOADINGDATA ||
               status == BINDSTATUS_ENDDOWNLOADDATA) {
      {
        std::lock_guard<std::mutex> lock(transfer_->mutex);
        transfer_->bytes = progress;
      }
      reason = transfer_->Check(progress, progressMax);
    } else {
      reason = transfer_->Check(0, 0);
    }
    if (!reason && !transfer_->abandoned) return S_OK;
    if (binding_ != nullptr) binding_->Abort();
    return E_ABORT;
  }
  HRESULT STDMETHODCALLTYPE OnStopBinding(HRESULT, LPCWSTR) override {
    Keep(nullptr);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetBindInfo(DWORD*, BINDINFO*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnDataAvailable(DWORD, DWORD, FORMATETC*, STGMEDIUM*) override {
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnObjectAvailable(REFIID, IUnknown*) override { return S_OK; }

 private:
  ~BindCallback() { Keep(nullptr); }
  void Keep(IBinding* binding) {
    if (binding != nullptr) binding->AddRef();
    if (binding_ != nullptr) binding_->Release();
    binding_ = binding;
  }

  LONG references_ = 1;
  std::shared_ptr<Transfer> transfer_;
  IBinding* binding_ = nullptr;
};

// The worker thread: a COM apartment of its own, so whatever urlmon does with this thread's
// messages never touches the service thread's queue.
DWORD WINAPI TransferMain(void* parameter) {
  std::unique_ptr<std::shared_ptr<Transfer>> owner(
      static_cast<std::shared_ptr<Transfer>*>(parameter));
  Transfer& transfer = **owner;
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  auto* callback = new BindCallback(*owner);
  transfer.result =
      URLDownloadToFileW(nullptr, transfer.address.c_str(), transfer.partFile.c_str(), 0, callback);
  callback->Release();
  // urlmon keeps a copy of every body in the account's internet cache: the DLL is in our own
  // file, and a refused body must not stay behind either.
  ForgetCachedCopy(transfer.address);
  if (SUCCEEDED(com)) CoUninitialize();
  if (transfer.abandoned) DeleteFileW(transfer.partFile.c_str());
  return 0;
}

std::wstring FailureMessage(HRESULT result) {
  wchar_t code[16];
  std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(result));
  return std::wstring(DownloadErrorText(result)) + L" (" + code + L")";
}

std::optional<std::uint64_t> FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One fixed name beside the file: a transfer that was left to end alone and still wrote its
// bytes there is cleared away by the next download.
std::wstring PartFileFor(const std::wstring& file) { return file + L".part"; }

// Waits for the worker without touching this thread's message queue. A transfer that broke a
// limit but does not end within kAbandonAfterMilliseconds is left to end alone.
void WaitForTransfer(const std::shared_ptr<Transfer>& transfer, HANDLE worker) {
  std::optional<ULONGLONG> giveUpAt;
  while (WaitForSingleObject(worker, kWatchMilliseconds) == WAIT_TIMEOUT) {
    std::uint64_t bytes;
    {
      std::lock_guard<std::mutex> lock(transfer->mutex);
      bytes = transfer->bytes;
    }
    const std::optional<std::wstring> reason = transfer->Check(bytes, 0);
    if (!reason) continue;
    if (!giveUpAt) giveUpAt = GetTickCount64() + kAbandonAfterMilliseconds;
    if (GetTickCount64() >= *giveUpAt) {
      transfer->abandoned = true;
      throw Exception(*reason);
    }
  }
}

// An https address is followed to its end first, by the rules that never leave https, without
// reading any body: urlmon itself may follow redirects without reporting them.
std::wstring FinalAddress(HttpClientFactory& http, const std::wstring& url) {
  if (ParseUrl(url).scheme != L"https") return url;
  std::unique_ptr<HttpSession> session = http.Create();
  return FindFinalAddress(*session, ParseUrl(url)).ToString();
}
}  // namespace

void UrlmonDownloader::Download(const std::wstring& url, const std::wstring& file,
                                const DownloadLimits& limits) {
  RequireWebAddress(url);
  auto transfer =
      std::make_shared<Transfer>(FinalAddress(http_, url), PartFileFor(file), limits, url);
  DeleteFileW(transfer->partFile.c_str());
  auto* parameter = new std::shared_ptr<Transfer>(transfer);
  const UniqueHandle worker(CreateThread(nullptr, 0, TransferMain, parameter, 0, nullptr));
  if (!worker) {
    const DWORD error = GetLastError();
    delete parameter;
    RaiseSystemError(error);
  }
  WaitForTransfer(transfer, worker.Get());
  try {
    if (const auto& reason = transfer->guard.Reason()) throw Exception(*reason);
    if (FAILED(transfer->result)) throw Exception(FailureMessage(transfer->result));
    const std::optional<std::uint64_t> size = FileSize(transfer->partFile);
    if (!size) return;  // nothing was saved (urlmon "succeeds" into a missing folder)
    if (auto reason = transfer->Finished(*size)) throw Exception(*reason);
    if (!MoveFileExW(transfer->partFile.c_str(), file.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      RaiseSystemError(GetLastError());
    }
  } catch (...) {
    DeleteFileW(transfer->partFile.c_str());
    throw;
  }
}
