#pragma once
// The command lines for cmd.exe that stop and start the IIS site and its application pool.

#include <string>

// "/c inetsrv\appcmd <verb> site " followed by the site name in double quotes, unescaped. Each
// builder raises Exception for a name that IsSafeSiteName refuses.
std::wstring SiteStopCommand(const std::wstring& siteName);
std::wstring SiteStartCommand(const std::wstring& siteName);

// "/c inetsrv\appcmd <verb> apppool /apppool.name:" followed by the pool name in double quotes.
std::wstring AppPoolStopCommand(const std::wstring& poolName);
std::wstring AppPoolStartCommand(const std::wstring& poolName);

// A site or pool name goes into an elevated command line: one holding a double quote, a percent
// sign or a control character could break out of its quotes or expand variables, and is refused.
bool IsSafeSiteName(const std::wstring& siteName);
