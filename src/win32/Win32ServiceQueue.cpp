#include "win32/Win32ServiceQueue.h"

#include <exception>

#include "win32/Win32Error.h"
#include "win32/Win32Timer.h"

Win32ServiceQueue::Win32ServiceQueue(PauseLatch& latch, ControlRequestBox& requests)
    : latch_(latch), requests_(requests) {
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

std::optional<ServiceMessage> Win32ServiceQueue::WaitingRequest() {
  std::optional<std::uint32_t> code = requests_.Take();
  if (!code) return std::nullopt;
  latch_.RequestTaken();
  ServiceMessage message;
  message.isControlRequest = true;
  message.controlCode = *code;
  return message;
}

ServiceMessage Win32ServiceQueue::WindowMessage(const MSG& msg) {
  ServiceMessage message;
  message.window = reinterpret_cast<std::uintptr_t>(msg.hwnd);
  message.message = msg.message;
  message.wParam = msg.wParam;
  message.lParam = msg.lParam;
  return message;
}

namespace {
bool IsWakeUp(const MSG& msg) {
  return msg.hwnd == nullptr && msg.message == ControlRequestMessage;
}
}  // namespace

std::optional<ServiceMessage> Win32ServiceQueue::Next() {
  for (;;) {
    if (std::optional<ServiceMessage> request = WaitingRequest()) return request;
    MSG msg;
    BOOL result = GetMessageW(&msg, nullptr, 0, 0);
    if (result == -1) RaiseSystemError(GetLastError());
    if (result == 0) return std::nullopt;  // WM_QUIT
    if (!IsWakeUp(msg)) return WindowMessage(msg);
  }
}

std::optional<ServiceMessage> Win32ServiceQueue::TryNext() {
  for (;;) {
    if (std::optional<ServiceMessage> request = WaitingRequest()) return request;
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return std::nullopt;
    if (msg.message == WM_QUIT) return std::nullopt;
    if (!IsWakeUp(msg)) return WindowMessage(msg);
  }
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

bool PostControlRequest(DWORD threadId, DWORD controlCode, PauseLatch& latch,
                        ControlRequestBox& requests) {
  if (threadId == 0) return false;
  requests.Post(controlCode);
  // The request is kept even when the wake-up cannot be posted: the thread finds it when it
  // takes its next message at the latest.
  PostThreadMessageW(threadId, ControlRequestMessage, controlCode, 0);
  latch.RequestPosted();
  return true;
}
