#include "win32/Win32Timer.h"

#include <windows.h>

#include <utility>

#include "core/Exception.h"
#include "win32/Win32Error.h"

namespace {

constexpr UINT_PTR TimerId = 1;
constexpr unsigned DefaultInterval = 1000;
const wchar_t WindowClassName[] = L"KORVAL_ScheduleTimerWindow";

thread_local std::exception_ptr pendingTickError;
// Set while a tick handler runs on this thread. A message loop that a platform call runs inside
// the handler may dispatch the next WM_TIMER: that tick is dropped, never run inside the first;
// the schedule's next tick comes as usual.
thread_local bool tickRunning = false;

class Win32ScheduleTimer;

LRESULT CALLBACK TimerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void RegisterWindowClassOnce() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = TimerWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = WindowClassName;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  (void)registered;
}

class Win32ScheduleTimer : public ScheduleTimer {
 public:
  Win32ScheduleTimer() {
    RegisterWindowClassOnce();
    window_ = CreateWindowExW(0, WindowClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    if (window_ == nullptr) RaiseSystemError(GetLastError());
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Win32ScheduleTimer() override {
    KillTimer(window_, TimerId);
    DestroyWindow(window_);
  }

  void SetOnTimer(std::function<void()> handler) override {
    handler_ = std::move(handler);
    Arm();
  }
  void SetInterval(unsigned milliseconds) override {
    interval_ = milliseconds;
    Arm();
  }
  unsigned Interval() const override { return interval_; }

  void Tick() {
    if (handler_) handler_();
  }

 private:
  // A timer ticks only with a handler and an interval; setting either starts it over.
  void Arm() {
    KillTimer(window_, TimerId);
    if (!handler_ || interval_ == 0) return;
    if (SetTimer(window_, TimerId, interval_, nullptr) == 0) {
      throw Exception(L"Nicht genügend Timer verfügbar");
    }
  }

  HWND window_ = nullptr;
  unsigned interval_ = DefaultInterval;
  std::function<void()> handler_;
};

LRESULT CALLBACK TimerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_TIMER) return DefWindowProcW(window, message, wParam, lParam);
  auto* timer = reinterpret_cast<Win32ScheduleTimer*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (timer == nullptr || tickRunning) return 0;
  tickRunning = true;
  try {
    timer->Tick();
  } catch (...) {
    pendingTickError = std::current_exception();
  }
  tickRunning = false;
  return 0;
}

}  // namespace

std::unique_ptr<ScheduleTimer> Win32TimerFactory::Create() {
  return std::make_unique<Win32ScheduleTimer>();
}

std::exception_ptr TakeTickError() { return std::exchange(pendingTickError, nullptr); }
