#include "core/UnicodeDecoding.h"

#include <cstdint>

#include "core/Exception.h"

const wchar_t* const kNoUnicodeMappingMessage =
    L"Keine Zuordnung für Unicode-Zeichen in der Multibyte-Zielcodeseite vorhanden";

namespace {

[[noreturn]] void RaiseNoMapping() { throw Exception(kNoUnicodeMappingMessage); }

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void AppendCodePoint(std::wstring& out, char32_t c) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (c >> 10));
      out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(c);
}

std::uint8_t Byte(const std::string& bytes, std::size_t i) {
  return static_cast<std::uint8_t>(bytes[i]);
}

// The length of the sequence a lead byte opens and the bits it contributes; 0 for no lead byte.
int SequenceLength(std::uint8_t lead, char32_t& value) {
  if (lead < 0x80) return value = lead, 1;
  if (lead >= 0xC2 && lead <= 0xDF) return value = lead & 0x1F, 2;
  if (lead >= 0xE0 && lead <= 0xEF) return value = lead & 0x0F, 3;
  if (lead >= 0xF0 && lead <= 0xF4) return value = lead & 0x07, 4;
  return 0;
}

}  // namespace

std::wstring DecodeUtf8(const std::string& bytes) {
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  std::size_t i = 0;
  if (bytes.size() >= 3 && Byte(bytes, 0) == 0xEF && Byte(bytes, 1) == 0xBB &&
      Byte(bytes, 2) == 0xBF) {
    i = 3;
  }
  std::wstring out;
  out.reserve(bytes.size());
  while (i < bytes.size()) {
    char32_t value = 0;
    int length = SequenceLength(Byte(bytes, i), value);
    if (length == 0 || i + static_cast<std::size_t>(length) > bytes.size()) RaiseNoMapping();
    for (int k = 1; k < length; ++k) {
      std::uint8_t next = Byte(bytes, i + static_cast<std::size_t>(k));
      if ((next & 0xC0) != 0x80) RaiseNoMapping();
      value = (value << 6) | (next & 0x3F);
    }
    if (value < kSmallest[length] || value > 0x10FFFF || IsSurrogate(value)) RaiseNoMapping();
    AppendCodePoint(out, value);
    i += static_cast<std::size_t>(length);
  }
  return out;
}

std::wstring DecodeUtf16(const std::string& bytes, bool bigEndian) {
  if (bytes.size() % 2 != 0) RaiseNoMapping();
  auto unit = [&](std::size_t i) -> char32_t {
    std::uint8_t a = Byte(bytes, i), b = Byte(bytes, i + 1);
    return bigEndian ? (char32_t{a} << 8 | b) : (char32_t{b} << 8 | a);
  };
  std::size_t i = (bytes.size() >= 2 && unit(0) == 0xFEFF) ? 2 : 0;
  std::wstring out;
  out.reserve(bytes.size() / 2);
  for (; i < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) RaiseNoMapping();
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 3 >= bytes.size()) RaiseNoMapping();
      char32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) RaiseNoMapping();
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendCodePoint(out, c);
  }
  return out;
}

std::wstring DecodeUtf32(const std::string& bytes, bool bigEndian) {
  if (bytes.size() % 4 != 0) RaiseNoMapping();
  auto unit = [&](std::size_t i) -> char32_t {
    char32_t value = 0;
    for (int k = 0; k < 4; ++k) {
      std::size_t index = bigEndian ? i + static_cast<std::size_t>(k) : i + 3 - k;
      value = (value << 8) | Byte(bytes, index);
    }
    return value;
  };
  std::size_t i = (bytes.size() >= 4 && unit(0) == 0xFEFF) ? 4 : 0;
  std::wstring out;
  out.reserve(bytes.size() / 4);
  for (; i < bytes.size(); i += 4) {
    char32_t c = unit(i);
    if (c > 0x10FFFF || IsSurrogate(c)) RaiseNoMapping();
    AppendCodePoint(out, c);
  }
  return out;
}

void AppendUtf8(char32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

std::string EncodeUtf8(const std::wstring& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (IsSurrogate(c) || c > 0x10FFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(c, out);
  }
  return out;
}
