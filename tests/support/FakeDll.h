#pragma once
// Bytes that pass for a DLL image (MZ header, PE signature, DLL characteristic), followed by a
// marker so tests can tell two "DLLs" apart.

#include <string>

std::string FakeDllBytes(const std::string& marker);
