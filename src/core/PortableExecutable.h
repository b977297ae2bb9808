#pragma once
// Recognises a DLL by its headers, so that an error page saved under a DLL's name never reaches
// a target.

#include <cstddef>
#include <string>

// How much of a file's start IsDllImage needs to see.
constexpr std::size_t kPeHeadBytes = 4096;

// True when head (the file's first bytes) holds an MZ header whose PE header lies within head and
// whose COFF characteristics mark the image as a DLL.
bool IsDllImage(const std::string& head);
