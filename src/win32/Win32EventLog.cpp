#include "win32/Win32EventLog.h"

#include <windows.h>

#include "win32/ScopedHandle.h"

void Win32EventLog::ReportError(const std::wstring& source, const std::wstring& text) {
  const UniqueEventSource log(RegisterEventSourceW(nullptr, source.c_str()));
  if (!log) return;
  const wchar_t* strings[] = {text.c_str()};
  ReportEventW(log.Get(), EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr);
}
