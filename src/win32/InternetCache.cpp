#include "win32/InternetCache.h"

#include <windows.h>
// After windows.h, which it needs; kept apart from winhttp.h, whose types it redefines.
#include <wininet.h>

void ForgetCachedCopy(const std::wstring& url) noexcept { DeleteUrlCacheEntryW(url.c_str()); }
