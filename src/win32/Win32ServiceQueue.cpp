#include "win32/Win32ServiceQueue.h"

#include <exception>

#include "win32/Win32Error.h"
#include "win32/Win32Timer.h"

Win32ServiceQueue::Win32ServiceQueue(PauseLatch& latch) : latch_(latch) {
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

ServiceMessage Win32ServiceQueue::Taken(const MSG& msg) {
  ServiceMessage message;
  if (msg.hwnd == nullptr && msg.message == ControlRequestMessage) {
    message.isControlRequest = true;
    message.controlCode = static_cast<std::uint32_t>(msg.wParam);
    latch_.RequestTaken();
    return message;
  }
  message.window = reinterpret_cast<std::uintptr_t>(msg.hwnd);
  message.message = msg.message;
  message.wParam = msg.wParam;
  message.lParam = msg.lParam;
  return message;
}

std::optional<ServiceMessage> Win32ServiceQueue::Next() {
  MSG msg;
  BOOL result = GetMessageW(&msg, nullptr, 0, 0);
  if (result == -1) RaiseSystemError(GetLastError());
  if (result == 0) return std::nullopt;  // WM_QUIT
  return Taken(msg);
}

std::optional<ServiceMessage> Win32ServiceQueue::TryNext() {
  MSG msg;
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return std::nullopt;
  if (msg.message == WM_QUIT) return std::nullopt;
  return Taken(msg);
}

void Win32ServiceQueue::Dispatch(const ServiceMessage& message) {
  MSG msg = {};
  msg.hwnd = reinterpret_cast<HWND>(message.window);
  msg.message = message.message;
  msg.wParam = message.wParam;
  msg.lParam = message.lParam;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  if (std::exception_ptr error = TakeTickError()) std::rethrow_exception(error);
}

void Win32ServiceQueue::Freeze() { latch_.WaitForRequest(); }

bool PostControlRequest(DWORD threadId, DWORD controlCode, PauseLatch& latch) {
  if (threadId == 0) return false;
  if (!PostThreadMessageW(threadId, ControlRequestMessage, controlCode, 0)) return false;
  latch.RequestPosted();
  return true;
}
