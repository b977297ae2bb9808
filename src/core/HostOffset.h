#pragma once
// The per-host offset of the scheduled check within its window: the same on every start of one
// host, spread evenly across a fleet, and derived from the machine's identity alone so that no
// host needs to know of any other.

#include <cstdint>
#include <string>

// Seconds in [0, spreadMinutes * 60): the SHA-256 of the identity's UTF-8 bytes, its first eight
// bytes as a big-endian number, modulo the spread. 0 when spreadMinutes is 0 or less.
std::uint32_t HostOffsetSeconds(const std::wstring& machineIdentity, int spreadMinutes);

// "mm:ss" after the window's start, or "hh:mm:ss" from an hour on.
std::wstring FormatOffset(std::uint32_t seconds);
