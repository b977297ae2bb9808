#include "core/ServerRefusal.h"

ServerRefusal::ServerRefusal(int status, std::wstring retryAfter, const std::wstring& url)
    : Exception(L"Der Server antwortete mit dem Status " + std::to_wstring(status) + L" (" + url +
                L")" + (retryAfter.empty() ? L"" : L", Retry-After: " + retryAfter) + L"."),
      status_(status),
      retryAfter_(std::move(retryAfter)) {}

bool IsSuccessStatus(int status) { return status >= 200 && status <= 299; }
