#pragma once
// Turns a Win32 error code into the system's Exception. The code is always passed explicitly:
// a later GetLastError() may already belong to another call.

#include <windows.h>

#include <string>

#include "core/Exception.h"

// The platform's text for the code (FormatMessageW), trimmed; empty when it has none.
std::wstring PlatformErrorText(DWORD code);

// An Exception with "Systemfehler.  Code: %d." and the platform's text.
Exception SystemError(DWORD code);
[[noreturn]] void RaiseSystemError(DWORD code);

// CNG (bcrypt) answers with an NTSTATUS, which has no Win32 code of its own: a failure (negative)
// raises "CNG-Fehler 0x...", with the value as the only text there is.
void CheckCngStatus(LONG status);
