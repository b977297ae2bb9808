#pragma once
// Recognises a DLL by its headers, so that an error page saved under a DLL's name never reaches
// a target.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// How much of a file's start IsDllImage needs to see.
constexpr std::size_t kPeHeadBytes = 4096;

// True when head (the file's first bytes) holds an MZ header whose PE header lies within head and
// whose COFF characteristics mark the image as a DLL.
bool IsDllImage(const std::string& head);

// The COFF header's machine field (0x8664 for x64, 0x014C for x86) when head holds an MZ header
// followed by a PE header within head; nothing otherwise.
std::optional<std::uint16_t> PeMachineType(const std::string& head);

// "x86", "x64", "ARM64", or the field as "0x" and four hex digits.
std::wstring MachineTypeName(std::uint16_t machine);
