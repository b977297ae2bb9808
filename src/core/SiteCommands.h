#pragma once
// The command lines for cmd.exe that stop and start the IIS site.

#include <string>

// "/c inetsrv\appcmd <verb> site " followed by the site name in double quotes, unescaped.
std::wstring SiteStopCommand(const std::wstring& siteName);
std::wstring SiteStartCommand(const std::wstring& siteName);

// A site name goes into an elevated command line: one holding a double quote, a percent sign or
// a control character could break out of its quotes or expand variables, and is refused.
bool IsSafeSiteName(const std::wstring& siteName);
