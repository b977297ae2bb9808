// Test helper: reads message boxes (#32770 windows) and presses OK, so that no test leaves a box
// waiting.
//   boxreader [--keep] CAPTION TIMEOUT_MS     waits for a box on this desktop; an empty CAPTION
//                                             takes any box; --keep reads without pressing OK
//   boxreader --run TIMEOUT_MS PROGRAM [ARG...]
//                                             runs PROGRAM on a desktop of its own (so the box
//                                             shows even when this prefix's default desktop has
//                                             no display), reads and answers every box it shows
//                                             until it ends; ends it after the timeout
// Prints JSON (UTF-8): a box is {"caption":...,"text":...,"icon":"error|information|warning|
// question|none|unknown"}; --run prints {"boxes":[...],"exitCode":N,"timedOut":false}.
// Exit code 0 on success, 1 when no box came or the program timed out, 4 for a bad command line.
#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "Utf8Output.h"
#include "win32/ScopedHandle.h"

namespace {

std::wstring Json(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    switch (c) {
      case L'"':
        out += L"\\\"";
        break;
      case L'\\':
        out += L"\\\\";
        break;
      case L'\r':
        out += L"\\r";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\t':
        out += L"\\t";
        break;
      default:
        if (c < 0x20) {
          wchar_t escaped[8];
          wsprintfW(escaped, L"\\u%04x", c);
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  return out + L"\"";
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096] = {};
  GetWindowTextW(window, buffer, 4096);
  return buffer;
}

// The pixels of a rectangle of the screen of `desktop`, read on a thread of that desktop.
struct Capture {
  HDESK desktop;
  RECT rect;
  LPCWSTR candidate;  // when set: the system icon drawn on the captured background instead
  std::vector<COLORREF> pixels;
};

DWORD WINAPI CaptureThread(void* parameter) {
  auto* capture = static_cast<Capture*>(parameter);
  if (capture->desktop) SetThreadDesktop(capture->desktop);
  const int width = capture->rect.right - capture->rect.left;
  const int height = capture->rect.bottom - capture->rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, capture->rect.left, capture->rect.top, SRCCOPY);
  if (capture->candidate) {
    RECT all = {0, 0, width, height};
    HBRUSH background = CreateSolidBrush(GetPixel(memory, 0, 0));
    FillRect(memory, &all, background);
    DeleteObject(background);
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, capture->candidate), 0, 0, 0, nullptr,
               DI_NORMAL | DI_DEFAULTSIZE);
  }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) capture->pixels.push_back(GetPixel(memory, x, y));
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return 0;
}

std::vector<COLORREF> CapturePixels(HDESK desktop, RECT rect, LPCWSTR candidate) {
  Capture capture{desktop, rect, candidate, {}};
  const UniqueHandle thread(CreateThread(nullptr, 0, CaptureThread, &capture, 0, nullptr));
  if (!thread) return {};
  WaitForSingleObject(thread.Get(), 10000);
  return capture.pixels;
}

// The box's icon. Icon handles of another process cannot be inspected, so the icon shown on the
// screen is compared pixel by pixel with each system icon drawn on the same background.
std::wstring IconName(HWND box, HDESK desktop) {
  struct Known {
    LPCWSTR id;
    const wchar_t* name;
  };
  const Known known[] = {{IDI_HAND, L"error"},
                         {IDI_ASTERISK, L"information"},
                         {IDI_EXCLAMATION, L"warning"},
                         {IDI_QUESTION, L"question"}};
  HWND control = nullptr;
  for (int id : {0x14, 1088}) {  // the icon control's ID differs between platforms
    HWND item = GetDlgItem(box, id);
    if (item && SendMessageW(item, STM_GETICON, 0, 0) != 0) control = item;
  }
  if (!control) return L"none";
  RECT rect;
  GetClientRect(control, &rect);
  MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&rect), 2);
  for (int attempt = 0; attempt < 20; ++attempt) {  // the box may not be painted yet
    std::vector<COLORREF> shown = CapturePixels(desktop, rect, nullptr);
    for (const Known& k : known) {
      if (!shown.empty() && CapturePixels(desktop, rect, k.id) == shown) return k.name;
    }
    Sleep(100);
  }
  return L"unknown";
}

struct Search {
  const wchar_t* caption;
  HWND found;
  const std::set<HWND>* skip;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (lstrcmpW(className, L"#32770") != 0) return TRUE;
  // A box is created hidden and shown once its caption, text and icon are set: one found
  // earlier would be read empty.
  if (!(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE)) return TRUE;
  if (*search->caption != L'\0' && WindowText(window) != search->caption) return TRUE;
  if (search->skip && search->skip->count(window)) return TRUE;
  search->found = window;
  return FALSE;
}

std::wstring BoxJson(HWND box, HDESK desktop) {
  // The icon is read first: it waits until the box is painted, and so set up in full.
  const std::wstring icon = IconName(box, desktop);
  wchar_t text[8192] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 8192);
  return L"{\"caption\":" + Json(WindowText(box)) + L",\"text\":" + Json(text) + L",\"icon\":" +
         Json(icon) + L"}";
}

int ReadOneBox(const wchar_t* caption, ULONGLONG timeoutMs, bool press) {
  Search search{caption, nullptr, nullptr};
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found) break;
    if (GetTickCount64() >= end) {
      PrintUtf8(L"{\"found\":false}\n");
      return 1;
    }
    Sleep(100);
  }
  std::wstring json = BoxJson(search.found, nullptr);
  PrintUtf8(L"{\"found\":true," + json.substr(1) + L"\n");
  if (press) PostMessageW(search.found, WM_COMMAND, IDOK, 0);
  return 0;
}

struct DesktopTraits {
  using Handle = HDESK;
  static Handle Invalid() { return nullptr; }
  static bool IsInvalid(Handle h) { return h == nullptr; }
  static void Close(Handle h) { CloseDesktop(h); }
};
using UniqueDesktop = ScopedHandle<DesktopTraits>;

std::wstring QuotedCommandLine(int argc, wchar_t** argv, int first) {
  std::wstring line;
  for (int i = first; i < argc; ++i) {
    if (!line.empty()) line += L' ';
    line += L'"';
    line += argv[i];
    line += L'"';
  }
  return line;
}

int RunOnOwnDesktop(ULONGLONG timeoutMs, int argc, wchar_t** argv, int first) {
  wchar_t desktopName[] = L"KorvalBoxReader";
  const UniqueDesktop desktop(
      CreateDesktopW(desktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr));
  if (!desktop) {
    PrintUtf8(L"{\"error\":" + std::to_wstring(GetLastError()) + L"}\n");
    return 1;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.lpDesktop = desktopName;
  PROCESS_INFORMATION process = {};
  std::wstring commandLine = QuotedCommandLine(argc, argv, first);
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    PrintUtf8(L"{\"error\":" + std::to_wstring(GetLastError()) + L"}\n");
    return 1;
  }
  const UniqueHandle child(process.hProcess);
  const UniqueHandle childThread(process.hThread);
  std::set<HWND> answered;
  std::wstring boxes;
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  bool timedOut = false;
  while (WaitForSingleObject(child.Get(), 100) == WAIT_TIMEOUT) {
    Search search{L"", nullptr, &answered};
    EnumDesktopWindows(desktop.Get(), FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found) {
      if (!boxes.empty()) boxes += L",";
      boxes += BoxJson(search.found, desktop.Get());
      answered.insert(search.found);
      PostMessageW(search.found, WM_COMMAND, IDOK, 0);
    }
    if (GetTickCount64() >= end) {
      TerminateProcess(child.Get(), 1);
      WaitForSingleObject(child.Get(), 5000);
      timedOut = true;
      break;
    }
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(child.Get(), &exitCode);
  PrintUtf8(L"{\"boxes\":[" + boxes + L"],\"exitCode\":" + std::to_wstring(exitCode) +
            L",\"timedOut\":" + (timedOut ? L"true" : L"false") + L"}\n");
  return timedOut ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 4 && lstrcmpW(argv[1], L"--run") == 0) {
    return RunOnOwnDesktop(_wtoi(argv[2]), argc, argv, 3);
  }
  int next = 1;
  bool press = true;
  if (argc > 1 && lstrcmpW(argv[1], L"--keep") == 0) {
    press = false;
    ++next;
  }
  if (argc != next + 2) {
    PrintUtf8(
        L"usage: boxreader [--keep] CAPTION TIMEOUT_MS | --run TIMEOUT_MS PROGRAM [ARG...]\n");
    return 4;
  }
  return ReadOneBox(argv[next], _wtoi(argv[next + 1]), press);
}
