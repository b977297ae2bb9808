#include "core/PortableExecutable.h"

#include <cstdint>
#include <optional>

namespace {
std::uint32_t ReadLittleEndian(const std::string& bytes, std::size_t offset, int width) {
  std::uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}

constexpr std::size_t kMachineOffset = 4;               // after "PE\0\0", in the COFF header
constexpr std::size_t kCharacteristicsOffset = 4 + 18;  // likewise

// The offset of the PE signature when head holds an MZ header and a whole COFF header after it.
std::optional<std::uint32_t> PeHeaderOffset(const std::string& head) {
  constexpr std::size_t kNewHeaderOffsetField = 0x3C;
  if (head.size() < kNewHeaderOffsetField + 4 || head[0] != 'M' || head[1] != 'Z') return {};
  std::uint32_t peOffset = ReadLittleEndian(head, kNewHeaderOffsetField, 4);
  if (peOffset > head.size() || head.size() - peOffset < kCharacteristicsOffset + 2) return {};
  if (head.compare(peOffset, 4, std::string("PE\0\0", 4)) != 0) return {};
  return peOffset;
}
}  // namespace

bool IsDllImage(const std::string& head) {
  constexpr std::uint32_t kImageFileDll = 0x2000;
  const std::optional<std::uint32_t> peOffset = PeHeaderOffset(head);
  if (!peOffset) return false;
  return (ReadLittleEndian(head, *peOffset + kCharacteristicsOffset, 2) & kImageFileDll) != 0;
}

std::optional<std::uint16_t> PeMachineType(const std::string& head) {
  const std::optional<std::uint32_t> peOffset = PeHeaderOffset(head);
  if (!peOffset) return {};
  return static_cast<std::uint16_t>(ReadLittleEndian(head, *peOffset + kMachineOffset, 2));
}

std::wstring MachineTypeName(std::uint16_t machine) {
  switch (machine) {
    case 0x014C:
      return L"x86";
    case 0x8664:
      return L"x64";
    case 0xAA64:
      return L"ARM64";
    default: {
      static const wchar_t kDigits[] = L"0123456789ABCDEF";
      std::wstring text = L"0x";
      for (int shift = 12; shift >= 0; shift -= 4) text += kDigits[(machine >> shift) & 0xF];
      return text;
    }
  }
}

std::optional<ImageRegion> ResourceRegion(const std::string& head) {
  const std::optional<std::uint32_t> peOffset = PeHeaderOffset(head);
  if (!peOffset) return {};
  const std::size_t optional = *peOffset + 24;
  if (head.size() < optional + 2) return {};
  const std::uint32_t magic = ReadLittleEndian(head, optional, 2);
  const std::size_t directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
  constexpr std::size_t kResourceDirectory = 2;
  const std::size_t entry = directories + kResourceDirectory * 8;
  if (directories == optional || head.size() < entry + 8) return {};
  ImageRegion region;
  region.rva = ReadLittleEndian(head, entry, 4);
  region.size = ReadLittleEndian(head, entry + 4, 4);
  if (region.rva == 0 || region.size == 0) return {};
  const std::uint32_t sections = ReadLittleEndian(head, *peOffset + 6, 2);
  const std::size_t first = optional + ReadLittleEndian(head, *peOffset + 20, 2);
  for (std::uint32_t n = 0; n < sections && first + (n + 1) * 40 <= head.size(); ++n) {
    const std::size_t at = first + n * 40;
    const std::uint64_t address = ReadLittleEndian(head, at + 12, 4);
    const std::uint64_t rawSize = ReadLittleEndian(head, at + 16, 4);
    if (region.rva < address || region.rva + std::uint64_t{region.size} > address + rawSize) {
      continue;
    }
    region.fileOffset = ReadLittleEndian(head, at + 20, 4) + (region.rva - address);
    return region;
  }
  return {};
}
