#include "core/SiteCommands.h"

namespace {
std::wstring SiteCommand(const wchar_t* verb, const std::wstring& siteName) {
  return std::wstring(L"/c inetsrv\\appcmd ") + verb + L" site " + L"\"" + siteName + L"\"";
}
}  // namespace

std::wstring SiteStopCommand(const std::wstring& siteName) {
  return SiteCommand(L"stop", siteName);
}

std::wstring SiteStartCommand(const std::wstring& siteName) {
  return SiteCommand(L"start", siteName);
}

std::wstring AppPoolStopCommand(const std::wstring& poolName) {
  return L"/c inetsrv\\appcmd stop apppool /apppool.name:\"" + poolName + L"\"";
}

std::wstring AppPoolStartCommand(const std::wstring& poolName) {
  return L"/c inetsrv\\appcmd start apppool /apppool.name:\"" + poolName + L"\"";
}

bool IsSafeSiteName(const std::wstring& siteName) {
  for (wchar_t c : siteName) {
    if (c == L'"' || c == L'%' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}
