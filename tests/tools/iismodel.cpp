// A model of IIS for the exchange under load, as IIS behaves: a listener on 127.0.0.1 that
// outlives its worker processes (like HTTP.sys), and workers (started with `-ap "<pool>"`, as
// w3wp.exe is) that load the target DLL and answer every request with the product version of the
// DLL they loaded. Stopping the site only closes the listener: the workers, and the DLL they
// loaded, stay. A recycle starts a new worker, switches new requests to it once it has started,
// and drains the old one (ended after the shutdown limit); with overlapping disallowed the old
// one ends first. A new worker that fails to start leaves the old one serving. A pool without a
// worker (idle, or never asked) starts one at its next request; a recycle then starts none. The
// appcmd stand-in forwards its commands here through kModelControlPipe.
//
//   iismodel.exe serve PORT DLL [--pool NAME] [--apps "A;B"] [--site NAME] [--broken VERSION]
//                [--no-overlap] [--shutdown-ms N] [--start-ms N] [--idle-ms N] [--lazy]
//                [--failing-successors] [--stopped-pool NAME] [--second-site NAME]
//   iismodel.exe worker PIPE DLL READY-EVENT [--broken VERSION] [--lazy] [--fail] [-ap POOL]
//
// --idle-ms: a worker without a request for that long ends (the pool's idle time-out).
// --lazy: a worker loads the DLL at its first request, not at its start.
// --failing-successors: every worker after the first fails to start.
// --stopped-pool: a second pool of the site's applications, stopped (no worker).
// --second-site: another site served by the same pool.
//
// serve prints "READY <pid of the first worker>" once it answers. Every request gets
// "HTTP/1.1 <status>" with the version as its body: 200, or for /status 500 while the worker's
// DLL has the --broken version; 503 while no worker runs. A stopped site refuses connections.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ModelPipe.h"
#include "Utf8Output.h"

namespace {

constexpr int kWorkerPipeInstances = 24;

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

// --- the worker process ---

// The product version of the image as it was loaded, not of whatever file now has its name.
std::string LoadedVersion(HMODULE module) {
  HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16));
  const DWORD size = info ? SizeofResource(module, info) : 0;
  const char* data = info ? static_cast<const char*>(LockResource(LoadResource(module, info))) : 0;
  for (DWORD at = 0; data && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, data + at, sizeof fixed);
    if (fixed.dwSignature != 0xFEEF04BD) continue;
    char text[64];
    std::snprintf(text, sizeof text, "%lu.%lu.%lu.%lu", fixed.dwProductVersionMS >> 16,
                  fixed.dwProductVersionMS & 0xFFFF, fixed.dwProductVersionLS >> 16,
                  fixed.dwProductVersionLS & 0xFFFF);
    return text;
  }
  return "?";
}

// What a worker serves: its DLL, loaded at its start or at its first request.
struct Loaded {
  std::once_flag once;
  std::wstring dll;
  std::string broken;
  std::string version = "?";
  bool isBroken = false;
  void Load() {
    std::call_once(once, [this] {
      HMODULE module = LoadLibraryW(dll.c_str());
      version = module ? LoadedVersion(module) : "?";
      isBroken = !broken.empty() && broken == version;
    });
  }
};

void ServeInstance(const std::wstring& pipeName, Loaded& loaded) {
  HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                 PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return;
  for (;;) {
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) break;
    std::string path;
    if (ReadMessage(pipe, path)) {
      const bool status = path.rfind("/status", 0) == 0;
      loaded.Load();
      WriteMessage(pipe, std::string(status && loaded.isBroken ? "500 " : "200 ") + loaded.version);
      std::string rest;
      ReadMessage(pipe, rest);  // until the model closes: unread bytes would be lost otherwise
    }
    DisconnectNamedPipe(pipe);
  }
  CloseHandle(pipe);
}

int RunWorker(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // w3wp.exe lives in inetsrv, which its search for the DLL's dependencies takes first.
  wchar_t inetsrv[MAX_PATH];
  const UINT length = GetSystemDirectoryW(inetsrv, MAX_PATH - 9);
  if (length > 0 && length < MAX_PATH - 9)
    SetDllDirectoryW((std::wstring(inetsrv) + L"\\inetsrv").c_str());
  Loaded loaded;
  loaded.dll = argv[3];
  bool lazy = false;
  for (int i = 5; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--fail") return 1067;  // like a worker whose start IIS gives up on
    if (arg == L"--lazy") lazy = true;
    if (arg == L"--broken" && i + 1 < argc) loaded.broken = Utf8(argv[++i]);
  }
  if (!lazy) {
    loaded.Load();
    if (loaded.version == "?") return 126;
  }
  const std::wstring pipeName = argv[2];
  std::vector<std::thread> threads;
  for (int i = 0; i < kWorkerPipeInstances; ++i)
    threads.emplace_back(ServeInstance, pipeName, std::ref(loaded));
  Sleep(100);  // every instance listens before the model sends the first request
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[4]);
  if (ready) SetEvent(ready);
  for (std::thread& t : threads) t.join();
  return 0;
}

// --- the model: pool, workers, listener ---

struct Options {
  int port = 0;
  std::wstring dll, pool = L"KorvalAppPool", site = L"Default Web Site", broken;
  std::vector<std::wstring> apps;  // the pool of each application of the site, as listed
  std::wstring stoppedPool, secondSite;
  bool noOverlap = false, lazy = false, failingSuccessors = false;
  DWORD shutdownMs = 90000, startMs = 90000, idleMs = 0;
};

struct Worker {
  HANDLE process = nullptr;
  DWORD pid = 0;
  std::wstring pipe;
  int inFlight = 0;
  bool draining = false;
  ULONGLONG drainEnd = 0;
  ULONGLONG lastRequest = 0;
};

class Model {
 public:
  explicit Model(Options options) : o_(std::move(options)) {}
  bool Start();
  std::string Control(const std::vector<std::wstring>& args, int& code);
  void Housekeeping();
  DWORD CurrentPid() {
    std::lock_guard<std::mutex> lock(m_);
    return current_ ? current_->pid : 0;
  }

 private:
  std::shared_ptr<Worker> LaunchWorker();
  std::shared_ptr<Worker> WorkerForRequest();
  void Recycle();
  bool OpenListener();
  void CloseListener();
  void AcceptLoop(SOCKET listener);
  void Answer(SOCKET client);
  std::string PoolAttribute(const std::wstring& name, bool started);
  std::string AppList(const std::vector<std::wstring>& args, const std::wstring& site,
                      const std::vector<std::wstring>& pools);

  Options o_;
  std::mutex m_;
  std::shared_ptr<Worker> current_;
  std::vector<std::shared_ptr<Worker>> workers_;  // current and draining
  bool poolStarted_ = true;
  bool siteStarted_ = false;
  SOCKET listener_ = INVALID_SOCKET;
  std::thread acceptThread_;
  bool stopAccepting_ = false;
  int nextWorker_ = 0;
  std::mutex launch_;  // one worker starts at a time
};

// Starts a worker and waits until it has loaded the DLL; null when it could not.
std::shared_ptr<Worker> Model::LaunchWorker() {
  const std::wstring id =
      std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(nextWorker_++);
  auto worker = std::make_shared<Worker>();
  worker->pipe = L"\\\\.\\pipe\\korval-iismodel-worker-" + id;
  const std::wstring readyName = L"korval-iismodel-ready-" + id;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = L"\"" + std::wstring(self) + L"\" worker \"" + worker->pipe + L"\" \"" +
                      o_.dll + L"\" " + readyName;
  if (!o_.broken.empty()) line += L" --broken " + o_.broken;
  if (o_.lazy) line += L" --lazy";
  if (o_.failingSuccessors && nextWorker_ > 1) line += L" --fail";
  line += L" -ap \"" + o_.pool + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    CloseHandle(ready);
    return nullptr;
  }
  CloseHandle(pi.hThread);
  HANDLE waits[] = {ready, pi.hProcess};
  const DWORD which = WaitForMultipleObjects(2, waits, FALSE, o_.startMs);
  CloseHandle(ready);
  if (which != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    return nullptr;
  }
  worker->process = pi.hProcess;
  worker->pid = pi.dwProcessId;
  return worker;
}

// Overlapped: the old worker serves until the new one has started, then drains. A pool without
// a worker gets none: its next request starts it.
void Model::Recycle() {
  std::lock_guard<std::mutex> launching(launch_);
  {
    std::lock_guard<std::mutex> lock(m_);
    if (!current_) return;
    if (o_.noOverlap) {
      current_->draining = true;
      current_->drainEnd = GetTickCount64() + o_.shutdownMs;
      current_.reset();
    }
  }
  std::shared_ptr<Worker> fresh = LaunchWorker();
  if (!fresh) return;  // like IIS: the old worker goes on serving
  std::lock_guard<std::mutex> lock(m_);
  if (current_) {
    current_->draining = true;
    current_->drainEnd = GetTickCount64() + o_.shutdownMs;
  }
  fresh->lastRequest = GetTickCount64();
  current_ = fresh;
  workers_.push_back(fresh);
}

// The worker for a request: the current one, or a new one when the started pool has none.
std::shared_ptr<Worker> Model::WorkerForRequest() {
  {
    std::lock_guard<std::mutex> lock(m_);
    if (current_ || !poolStarted_) return current_;
  }
  std::lock_guard<std::mutex> launching(launch_);
  {
    std::lock_guard<std::mutex> lock(m_);
    if (current_ || !poolStarted_) return current_;
  }
  std::shared_ptr<Worker> fresh = LaunchWorker();
  std::lock_guard<std::mutex> lock(m_);
  if (fresh) {
    current_ = fresh;
    workers_.push_back(fresh);
  }
  return current_;
}

void Model::Housekeeping() {
  std::lock_guard<std::mutex> lock(m_);
  for (auto it = workers_.begin(); it != workers_.end();) {
    Worker& w = **it;
    const bool gone = WaitForSingleObject(w.process, 0) == WAIT_OBJECT_0;
    const bool idle =
        o_.idleMs > 0 && w.inFlight == 0 && GetTickCount64() >= w.lastRequest + o_.idleMs;
    if (gone || idle || (w.draining && (w.inFlight == 0 || GetTickCount64() >= w.drainEnd))) {
      TerminateProcess(w.process, 0);
      CloseHandle(w.process);
      if (current_.get() == &w) current_.reset();
      it = workers_.erase(it);
    } else {
      ++it;
    }
  }
}

bool Model::OpenListener() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(o_.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, SOMAXCONN) != 0) {
    closesocket(s);
    return false;
  }
  listener_ = s;
  stopAccepting_ = false;
  siteStarted_ = true;
  acceptThread_ = std::thread(&Model::AcceptLoop, this, s);
  return true;
}

// The accept loop looks at its flag between short waits: closing a socket under a blocked
// accept is not something to rely on.
void Model::CloseListener() {
  stopAccepting_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  closesocket(listener_);
  listener_ = INVALID_SOCKET;
  siteStarted_ = false;
}

void Model::AcceptLoop(SOCKET listener) {
  while (!stopAccepting_) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval wait{0, 20000};
    if (select(0, &readable, nullptr, nullptr, &wait) <= 0) continue;
    SOCKET client = accept(listener, nullptr, nullptr);
    if (client != INVALID_SOCKET) std::thread(&Model::Answer, this, client).detach();
  }
}

void Model::Answer(SOCKET client) {
  DWORD timeout = 10000;
  setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
             sizeof timeout);
  std::string head;
  char buffer[2048];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 16384) {
    const int n = recv(client, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    head.append(buffer, n);
  }
  const std::size_t from = head.find(' ') + 1;
  const std::string path = head.substr(from, head.find(' ', from) - from);
  std::shared_ptr<Worker> worker = WorkerForRequest();
  {
    std::lock_guard<std::mutex> lock(m_);
    if (worker && worker != current_) worker = current_;
    if (worker) ++worker->inFlight, worker->lastRequest = GetTickCount64();
  }
  std::string answer = "503 ";
  if (worker && !Transact(worker->pipe.c_str(), path, answer, 5000)) answer = "502 ";
  if (worker) {
    std::lock_guard<std::mutex> lock(m_);
    --worker->inFlight;
    worker->lastRequest = GetTickCount64();
  }
  const std::string body = answer.substr(4);
  const std::string response =
      "HTTP/1.1 " + answer.substr(0, 3) +
      " X\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\nConnection: close\r\n\r\n" + body;
  send(client, response.data(), static_cast<int>(response.size()), 0);
  shutdown(client, SD_SEND);
  closesocket(client);
}

bool Model::Start() {
  std::shared_ptr<Worker> first = LaunchWorker();
  if (!first) return false;
  first->lastRequest = GetTickCount64();
  current_ = first;
  workers_.push_back(first);
  return OpenListener();
}

std::string Model::PoolAttribute(const std::wstring& name, bool started) {
  auto limit = [](DWORD ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lu:%02lu:%02lu", ms / 3600000, ms / 60000 % 60,
                  ms / 1000 % 60);
    return std::string(text);
  };
  if (name == L"state") return started ? "Started" : "Stopped";
  if (name == L"recycling.disallowOverlappingRotation") return o_.noOverlap ? "true" : "false";
  if (name == L"processModel.startupTimeLimit") return limit(o_.startMs);
  if (name == L"processModel.shutdownTimeLimit") return limit(o_.shutdownMs);
  return "";
}

// `list app`: one pool per line with /text:applicationPool; with /xml as appcmd writes it, UTF-8
// whatever the code page, the names escaped as XML attributes.
std::string Model::AppList(const std::vector<std::wstring>& args, const std::wstring& site,
                           const std::vector<std::wstring>& pools) {
  std::string out;
  if (std::find(args.begin(), args.end(), L"/xml") == args.end()) {
    for (const std::wstring& pool : pools) out += Utf8(pool) + "\r\n";
    return out;
  }
  auto escaped = [](const std::wstring& name) {
    std::string text;
    for (char c : Utf8(name)) {
      text += c == '&'   ? "&amp;"
              : c == '<' ? "&lt;"
              : c == '>' ? "&gt;"
              : c == '"' ? "&quot;"
                         : std::string(1, c);
    }
    return text;
  };
  out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<appcmd>\r\n";
  for (std::size_t i = 0; i < pools.size(); ++i) {
    const std::string app = escaped(site) + "/" + (i ? "app" + std::to_string(i) : "");
    out += "    <APP APP.NAME=\"" + app + "\" APPPOOL.NAME=\"" + escaped(pools[i]) +
           "\" SITE.NAME=\"" + escaped(site) + "\" />\r\n";
  }
  return out + "</appcmd>\r\n";
}

// One appcmd call: its output, and its exit code in `code`.
std::string Model::Control(const std::vector<std::wstring>& a, int& code) {
  code = 0;
  auto value = [&](const std::wstring& key) {
    for (const std::wstring& arg : a) {
      if (Lower(arg).rfind(Lower(key), 0) == 0) return arg.substr(key.size());
    }
    return std::wstring();
  };
  const std::wstring verb = a.size() > 1 ? a[0] + L" " + a[1] : L"";
  const std::wstring poolName = Lower(value(L"/apppool.name:"));
  const bool ourPool = poolName == Lower(o_.pool);
  const bool stoppedPool = !o_.stoppedPool.empty() && poolName == Lower(o_.stoppedPool);
  const std::wstring siteName = Lower(value(L"/site.name:"));
  std::string out;
  if (verb == L"list app" && siteName == Lower(o_.site)) {
    out = AppList(a, o_.site, o_.apps);
  } else if (verb == L"list app" && !o_.secondSite.empty() && siteName == Lower(o_.secondSite)) {
    out = AppList(a, o_.secondSite, {o_.pool});
  } else if (verb == L"list apppool" && (ourPool || stoppedPool)) {
    out = PoolAttribute(value(L"/text:"), ourPool && poolStarted_) + "\r\n";
  } else if (verb == L"list wps" && ourPool) {
    std::lock_guard<std::mutex> lock(m_);
    for (auto& w : workers_)
      out += "WP \"" + std::to_string(w->pid) + "\" (applicationPool:" + Utf8(o_.pool) + ")\r\n";
  } else if (verb == L"recycle apppool" && (stoppedPool || (ourPool && !poolStarted_))) {
    out = "ERROR ( message:Der Anwendungspool ist angehalten. )\r\n";
    code = 1062;
  } else if (verb == L"recycle apppool" && ourPool) {
    std::thread(&Model::Recycle, this).detach();
    out = "\"" + Utf8(o_.pool) + "\" successfully recycled\r\n";
  } else if ((verb == L"stop site" || verb == L"start site") && a.size() > 2 &&
             Lower(a[2]) == Lower(o_.site)) {
    const bool start = a[0] == L"start";
    if (start == siteStarted_)
      code = start ? 1056 : 1062;
    else if (start)
      OpenListener();
    else
      CloseListener();
  } else if (verb == L"stop apppool" && ourPool) {
    std::lock_guard<std::mutex> lock(m_);
    for (auto& w : workers_) w->draining = true, w->drainEnd = 0;
    poolStarted_ = false;
  } else if (verb == L"start apppool" && ourPool) {
    poolStarted_ = true;
    Recycle();
  } else {
    out = "ERROR ( message:Unbekannter Befehl oder Name. )\r\n";
    code = 1;
  }
  return out;
}

void ServeControl(Model& model) {
  for (;;) {
    HANDLE pipe = CreateNamedPipeW(kModelControlPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE,
                                   PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return;
    if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
      std::string request;
      if (ReadMessage(pipe, request)) {
        std::vector<std::wstring> args;
        std::size_t at = 0;
        for (std::size_t end; (end = request.find('\n', at)) != std::string::npos; at = end + 1) {
          const std::string arg = request.substr(at, end - at);
          std::wstring wide(arg.size(), L'\0');
          wide.resize(MultiByteToWideChar(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()),
                                          wide.data(), static_cast<int>(wide.size())));
          args.push_back(wide);
        }
        int code = 0;
        const std::string out = model.Control(args, code);
        WriteMessage(pipe, std::to_string(code) + "\n" + out);
        std::string rest;
        ReadMessage(pipe, rest);
      }
    }
    CloseHandle(pipe);
  }
}

Options ParseOptions(int argc, wchar_t** argv) {
  Options o;
  o.port = _wtoi(argv[2]);
  o.dll = argv[3];
  for (int i = 4; i < argc; ++i) {
    const std::wstring arg = argv[i];
    const std::wstring next = i + 1 < argc ? argv[i + 1] : L"";
    if (arg == L"--no-overlap")
      o.noOverlap = true;
    else if (arg == L"--pool")
      o.pool = next, ++i;
    else if (arg == L"--site")
      o.site = next, ++i;
    else if (arg == L"--broken")
      o.broken = next, ++i;
    else if (arg == L"--shutdown-ms")
      o.shutdownMs = _wtoi(next.c_str()), ++i;
    else if (arg == L"--start-ms")
      o.startMs = _wtoi(next.c_str()), ++i;
    else if (arg == L"--idle-ms")
      o.idleMs = _wtoi(next.c_str()), ++i;
    else if (arg == L"--lazy")
      o.lazy = true;
    else if (arg == L"--failing-successors")
      o.failingSuccessors = true;
    else if (arg == L"--stopped-pool")
      o.stoppedPool = next, ++i;
    else if (arg == L"--second-site")
      o.secondSite = next, ++i;
    else if (arg == L"--apps") {
      for (std::size_t at = 0, end; at <= next.size(); at = end + 1) {
        end = std::min(next.find(L';', at), next.size());
        o.apps.push_back(next.substr(at, end - at));
      }
      ++i;
    }
  }
  if (o.apps.empty()) o.apps.push_back(o.pool);
  return o;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wstring(argv[1]) == L"worker") return RunWorker(argc, argv);
  if (argc < 4 || std::wstring(argv[1]) != L"serve") {
    std::fprintf(stderr, "usage: iismodel.exe serve PORT DLL [options]\n");
    return 2;
  }
  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  Model model(ParseOptions(argc, argv));
  if (!model.Start()) {
    std::printf("FAILED %lu\n", GetLastError());
    return 1;
  }
  std::thread(ServeControl, std::ref(model)).detach();
  std::printf("READY %lu\n", model.CurrentPid());
  std::fflush(stdout);
  for (;;) {
    model.Housekeeping();
    Sleep(20);
  }
}
