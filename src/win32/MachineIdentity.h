#pragma once
// The machine's identity, from which its offset within a check window is derived.

#include <string>

// The value MachineGuid under HKLM\SOFTWARE\Microsoft\Cryptography (the exe is 64-bit); the
// computer name where it is missing or empty; the empty text when neither can be read.
std::wstring ReadMachineIdentity();
