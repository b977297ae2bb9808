// Test helper: waits for a message box (#32770 window) by caption, prints it as JSON and presses
// OK, so that no test leaves a box waiting.
//   boxreader CAPTION TIMEOUT_MS          read and press OK; an empty CAPTION takes any box
//   boxreader --keep CAPTION TIMEOUT_MS   read only
// Prints {"caption":...,"text":...,"icon":"error|information|warning|question|none"} (UTF-8).
// Exit code 0 when a box was found, 1 after the timeout ({"found":false}), 4 for a bad command.
#include <windows.h>

#include <string>

namespace {

void Print(const std::wstring& text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string bytes(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
            &written, nullptr);
}

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

// The box's icon, compared with the shared system icons. The icon control's ID differs between
// platforms, so both known ones are asked.
std::wstring IconName(HWND box) {
  struct Known {
    LPCWSTR id;
    const wchar_t* name;
  };
  const Known known[] = {{IDI_HAND, L"error"},
                         {IDI_ASTERISK, L"information"},
                         {IDI_EXCLAMATION, L"warning"},
                         {IDI_QUESTION, L"question"}};
  for (int control : {0x14, 1088}) {
    HWND item = GetDlgItem(box, control);
    if (!item) continue;
    auto icon = reinterpret_cast<HICON>(SendMessageW(item, STM_GETICON, 0, 0));
    if (!icon) continue;
    for (const Known& k : known) {
      if (LoadIconW(nullptr, k.id) == icon) return k.name;
    }
    return L"unknown";
  }
  return L"none";
}

struct Search {
  const wchar_t* caption;
  HWND found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (lstrcmpW(className, L"#32770") != 0) return TRUE;
  if (*search->caption != L'\0' && WindowText(window) != search->caption) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int next = 1;
  bool press = true;
  if (argc > 1 && lstrcmpW(argv[1], L"--keep") == 0) {
    press = false;
    ++next;
  }
  if (argc != next + 2) {
    Print(L"usage: boxreader [--keep] CAPTION TIMEOUT_MS\n");
    return 4;
  }
  Search search{argv[next], nullptr};
  const ULONGLONG end = GetTickCount64() + _wtoi(argv[next + 1]);
  while (!search.found) {
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (search.found) break;
    if (GetTickCount64() >= end) {
      Print(L"{\"found\":false}\n");
      return 1;
    }
    Sleep(100);
  }
  HWND box = search.found;
  wchar_t text[8192] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 8192);
  Print(L"{\"found\":true,\"caption\":" + Json(WindowText(box)) + L",\"text\":" + Json(text) +
        L",\"icon\":" + Json(IconName(box)) + L"}\n");
  if (press) PostMessageW(box, WM_COMMAND, IDOK, 0);
  return 0;
}
