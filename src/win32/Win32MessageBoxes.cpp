#include "win32/Win32MessageBoxes.h"

#include <windows.h>

#include "Services/ServiceMessages.h"

void Win32MessageBoxes::ShowInformation(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), title_.c_str(), MB_OK | MB_ICONINFORMATION);
}

void Win32MessageBoxes::ShowError(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), title_.c_str(), MB_OK | MB_ICONERROR);
}

void Win32MessageBoxes::ShowApplicationError(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), ApplicationErrorTitle, MB_OK | MB_ICONERROR);
}
