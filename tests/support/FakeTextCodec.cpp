#include "support/FakeTextCodec.h"

#include "core/Exception.h"
#include "core/UnicodeDecoding.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void AppendWide(char32_t c, std::wstring& out) {
  if (sizeof(wchar_t) == 2 && c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<wchar_t>(c);
  }
}

// Decodes one UTF-8 sequence at bytes[i]; returns its length, or 0 when it is not valid
// (truncated, overlong, a surrogate, beyond U+10FFFF).
std::size_t DecodeUtf8Sequence(const std::string& bytes, std::size_t i, char32_t& c) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  unsigned char lead = byte(i);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || i + length > bytes.size()) return 0;
  c = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  static const char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < minimum[length] || c > 0x10FFFF || IsSurrogate(c)) return 0;
  return length;
}

}  // namespace

std::string FakeTextCodec::ToAnsi(const std::wstring& text) {
  ++toAnsiCalls_;
  if (ansiCodePage_ == 65001) return EncodeUtf8(text);
  std::string out;
  out.reserve(text.size());
  for (wchar_t w : text) {
    auto c = static_cast<char32_t>(w);
    out += c <= 0xFF ? static_cast<char>(c) : '?';
  }
  return out;
}

bool FakeTextCodec::IsValidCodePage(unsigned codePage) {
  return codePage == 1252 || codePage == 28591 || codePage == 65001;
}

std::wstring FakeTextCodec::Decode(unsigned codePage, const std::string& bytes) {
  if (!IsValidCodePage(codePage)) {
    throw Exception(L"Unbekannte Codepage " + std::to_wstring(codePage));
  }
  std::wstring out;
  if (codePage != 65001) {
    for (char b : bytes) out += static_cast<wchar_t>(static_cast<unsigned char>(b));
    return out;
  }
  for (std::size_t i = 0; i < bytes.size();) {
    char32_t c = 0;
    std::size_t length = DecodeUtf8Sequence(bytes, i, c);
    if (length == 0) throw Exception(L"Ungültige UTF-8-Bytefolge");
    AppendWide(c, out);
    i += length;
  }
  return out;
}
