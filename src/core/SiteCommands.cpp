#include "core/SiteCommands.h"

#include "core/Exception.h"

namespace {
// Whatever a name came from (the configuration, a journal), it reaches no command line unless
// it passes the name rule.
const std::wstring& Checked(const std::wstring& name, const wchar_t* what) {
  if (!IsSafeSiteName(name)) throw Exception(std::wstring(L"Unzulässiger Name ") + what + L".");
  return name;
}

std::wstring SiteCommand(const wchar_t* verb, const std::wstring& siteName) {
  return std::wstring(L"/c inetsrv\\appcmd ") + verb + L" site " + L"\"" +
         Checked(siteName, L"der IIS-Site") + L"\"";
}
}  // namespace

std::wstring SiteStopCommand(const std::wstring& siteName) {
  return SiteCommand(L"stop", siteName);
}

std::wstring SiteStartCommand(const std::wstring& siteName) {
  return SiteCommand(L"start", siteName);
}

std::wstring AppPoolStopCommand(const std::wstring& poolName) {
  return L"/c inetsrv\\appcmd stop apppool /apppool.name:\"" +
         Checked(poolName, L"des Anwendungspools") + L"\"";
}

std::wstring AppPoolStartCommand(const std::wstring& poolName) {
  return L"/c inetsrv\\appcmd start apppool /apppool.name:\"" +
         Checked(poolName, L"des Anwendungspools") + L"\"";
}

bool IsSafeSiteName(const std::wstring& siteName) {
  for (wchar_t c : siteName) {
    if (c == L'"' || c == L'%' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}
