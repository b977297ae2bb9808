#include "core/HostOffset.h"

#include <cstdio>

#include "core/Sha256Digest.h"
#include "core/UnicodeDecoding.h"

std::uint32_t HostOffsetSeconds(const std::wstring& machineIdentity, int spreadMinutes) {
  if (spreadMinutes <= 0) return 0;
  const Sha256Bytes digest = Sha256Digest(EncodeUtf8(machineIdentity));
  std::uint64_t number = 0;
  for (int i = 0; i < 8; ++i) number = (number << 8) | digest[i];
  return static_cast<std::uint32_t>(number % (static_cast<std::uint64_t>(spreadMinutes) * 60));
}

std::wstring FormatOffset(std::uint32_t seconds) {
  wchar_t text[32];
  if (seconds >= 3600) {
    std::swprintf(text, 32, L"%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  } else {
    std::swprintf(text, 32, L"%02u:%02u", seconds / 60, seconds % 60);
  }
  return text;
}
