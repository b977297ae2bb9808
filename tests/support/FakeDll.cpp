#include "support/FakeDll.h"

std::string FakeDllBytes(const std::string& marker) {
  constexpr std::size_t kPeOffset = 0x80;
  std::string bytes(kPeOffset + 24, '\0');
  bytes[0] = 'M';
  bytes[1] = 'Z';
  bytes[0x3C] = static_cast<char>(kPeOffset);
  bytes.replace(kPeOffset, 4, std::string("PE\0\0", 4));
  bytes[kPeOffset + 22] = 0x02;  // executable image
  bytes[kPeOffset + 23] = 0x21;  // DLL
  return bytes + marker;
}
