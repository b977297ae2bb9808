#include "Models/BodyDecoding.h"

#include "core/Charsets.h"
#include "core/Exception.h"
#include "core/Inflate.h"
#include "core/UnicodeDecoding.h"
#include "platform/TextCodec.h"

namespace {

const wchar_t* const kInvalidCharsetMessage = L"Ungültiger Codierungsname";

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool IsBlankOrControl(wchar_t c) { return c <= L' ' || c == 0x7F; }

std::wstring TrimBlanksAndControls(const std::wstring& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlankOrControl(text[begin])) ++begin;
  while (end > begin && IsBlankOrControl(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::wstring Unquote(const std::wstring& text, wchar_t quote) {
  if (text.size() >= 2 && text.front() == quote && text.back() == quote) {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

}  // namespace

std::wstring CharsetParameter(const std::wstring& contentType) {
  std::size_t pos = 0;
  while (pos <= contentType.size()) {
    std::size_t semicolon = contentType.find(L';', pos);
    if (semicolon == std::wstring::npos) semicolon = contentType.size();
    std::wstring part = contentType.substr(pos, semicolon - pos);
    std::size_t nameStart = part.find_first_not_of(L" \t");
    if (nameStart != std::wstring::npos && StartsWithNoCase(part.substr(nameStart), L"charset")) {
      std::size_t equals = part.find(L'=');
      if (equals == std::wstring::npos) return L"";
      std::wstring value = TrimBlanksAndControls(part.substr(equals + 1));
      return Unquote(Unquote(value, L'\''), L'"');
    }
    pos = semicolon + 1;
  }
  return L"";
}

std::wstring DecodeCharset(const std::string& bytes, const std::wstring& charset,
                           TextCodec* codec) {
  if (charset.empty()) return DecodeUtf8(bytes);
  std::optional<unsigned> codePage = CodePageForCharset(charset);
  if (!codePage) throw Exception(kInvalidCharsetMessage);
  switch (*codePage) {
    case kCodePageUtf8:
      return DecodeUtf8(bytes);
    case kCodePageUtf16LE:
      return DecodeUtf16(bytes, false);
    case kCodePageUtf16BE:
      return DecodeUtf16(bytes, true);
    case kCodePageUtf32LE:
      return DecodeUtf32(bytes, false);
    case kCodePageUtf32BE:
      return DecodeUtf32(bytes, true);
    default:
      break;
  }
  if (codec == nullptr || !codec->IsValidCodePage(*codePage)) {
    throw Exception(kInvalidCharsetMessage);
  }
  return codec->Decode(*codePage, bytes);
}

std::wstring DecodeBody(const HttpResponse& response, TextCodec* codec, std::size_t maxBytes) {
  std::string bytes = InflateContent(response.contentEncoding, response.body, maxBytes);
  return DecodeCharset(bytes, CharsetParameter(response.contentType), codec);
}
