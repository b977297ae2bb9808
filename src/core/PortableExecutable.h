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

// Where an image keeps its resources: their address relative to the image's base once mapped,
// their offset in the file and their size. Resources are never relocated, so the bytes of a
// mapped image there equal those of the file it was mapped from.
struct ImageRegion {
  std::uint32_t rva = 0;
  std::uint32_t fileOffset = 0;
  std::uint32_t size = 0;
};
// The resource region when head holds the whole PE and section headers and the image has
// resources within one section's raw data; nothing otherwise.
std::optional<ImageRegion> ResourceRegion(const std::string& head);
