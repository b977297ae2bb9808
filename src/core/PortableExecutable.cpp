#include "core/PortableExecutable.h"

#include <cstdint>

namespace {
std::uint32_t ReadLittleEndian(const std::string& bytes, std::size_t offset, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}
}  // namespace

bool IsDllImage(const std::string& head) {
  constexpr std::size_t kNewHeaderOffsetField = 0x3C;
  constexpr std::size_t kCharacteristicsOffset = 4 + 18;  // after "PE\0\0", in the COFF header
  constexpr std::uint32_t kImageFileDll = 0x2000;
  if (head.size() < kNewHeaderOffsetField + 4 || head[0] != 'M' || head[1] != 'Z') return false;
  std::uint32_t peOffset = ReadLittleEndian(head, kNewHeaderOffsetField, 4);
  if (peOffset > head.size() || head.size() - peOffset < kCharacteristicsOffset + 2) return false;
  if (head.compare(peOffset, 4, std::string("PE\0\0", 4)) != 0) return false;
  return (ReadLittleEndian(head, peOffset + kCharacteristicsOffset, 2) & kImageFileDll) != 0;
}
