#pragma once
// The account's internet cache, which urlmon fills with a copy of every body it downloads.

#include <string>

// Removes the cached copy of the address's body, if there is one; never raises.
void ForgetCachedCopy(const std::wstring& url) noexcept;
