#include "win32/Win32OutcomeEventLog.h"

#include <windows.h>

#include <vector>

#include "win32/ScopedHandle.h"

void Win32OutcomeEventLog::Write(const OutcomeEvent& event) noexcept {
  try {
    const UniqueEventSource log(RegisterEventSourceW(nullptr, source_.c_str()));
    if (!log) return;
    std::vector<const wchar_t*> strings;
    for (const std::wstring& text : event.strings) strings.push_back(text.c_str());
    ReportEventW(log.Get(), static_cast<WORD>(event.kind), 0, event.id, nullptr,
                 static_cast<WORD>(strings.size()), 0, strings.data(), nullptr);
  } catch (...) {
  }
}
