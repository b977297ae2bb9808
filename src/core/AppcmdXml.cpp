#include "core/AppcmdXml.h"

#include <cstdint>
#include <cwctype>
#include <utility>

#include "core/Exception.h"
#include "core/UnicodeDecoding.h"

namespace {
struct Element {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;  // values still escaped
};

[[noreturn]] void NotAnAnswer(const wchar_t* why) {
  throw Exception(std::wstring(L"die Antwort von appcmd ist kein XML der erwarteten Form (") + why +
                  L")");
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A character reference's code point; 0 when it is none (the caller refuses it).
std::uint32_t CodePoint(const std::string& ref) {
  const bool hex = ref.size() > 2 && (ref[1] == 'x');
  const std::string digits = ref.substr(hex ? 2 : 1);
  if (ref.empty() || ref[0] != '#' || digits.empty() || digits.size() > 6) return 0;
  std::uint32_t value = 0;
  for (char c : digits) {
    int d = (c >= '0' && c <= '9') ? c - '0' : -1;
    if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return 0;
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
  }
  return value <= 0x10FFFF ? value : 0;
}

// An attribute's text with its references replaced, decoded from UTF-8.
std::wstring AttributeText(const std::string& raw) {
  std::string text;
  for (std::size_t at = 0; at < raw.size(); ++at) {
    if (raw[at] != '&') {
      text += raw[at];
      continue;
    }
    const std::size_t end = raw.find(';', at);
    if (end == std::string::npos) NotAnAnswer(L"ein unvollständiger Verweis");
    const std::string ref = raw.substr(at + 1, end - at - 1);
    static const std::pair<const char*, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    std::uint32_t cp = CodePoint(ref);
    for (const auto& [name, c] : kNamed) {
      if (ref == name) cp = static_cast<std::uint32_t>(c);
    }
    if (cp == 0) NotAnAnswer(L"ein unbekannter Verweis");
    AppendUtf8(static_cast<char32_t>(cp), text);
    at = end;
  }
  return DecodeUtf8(text);  // a reference to a surrogate is refused here as well
}

// Reads the attributes of the tag that begins at `at` up to its end; answers the end.
std::size_t ReadAttributes(const std::string& xml, std::size_t at, Element& element) {
  for (;;) {
    while (at < xml.size() && IsBlank(xml[at])) ++at;
    if (at >= xml.size()) NotAnAnswer(L"ein Element ohne Ende");
    if (xml[at] == '>' || xml.compare(at, 2, "/>") == 0) return xml.find('>', at);
    const std::size_t equals = xml.find('=', at);
    if (equals == std::string::npos || equals + 1 >= xml.size()) NotAnAnswer(L"ein Attribut");
    std::string name = xml.substr(at, equals - at);
    while (!name.empty() && IsBlank(name.back())) name.pop_back();
    std::size_t open = equals + 1;
    while (open < xml.size() && IsBlank(xml[open])) ++open;
    if (open >= xml.size() || (xml[open] != '"' && xml[open] != '\'')) NotAnAnswer(L"ein Attribut");
    const std::size_t close = xml.find(xml[open], open + 1);
    if (close == std::string::npos) NotAnAnswer(L"ein Attribut ohne Ende");
    const std::string value = xml.substr(open + 1, close - open - 1);
    if (name.empty() || value.find('<') != std::string::npos) NotAnAnswer(L"ein Attribut");
    element.attributes.emplace_back(name, value);
    at = close + 1;
  }
}

// The start tags of the text in order; declarations, comments and end tags are passed over.
std::vector<Element> StartTags(const std::string& xml) {
  std::vector<Element> elements;
  for (std::size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    const char next = at + 1 < xml.size() ? xml[at + 1] : '\0';
    if (next == '?' || next == '!' || next == '/') {
      const std::size_t end = xml.find(next == '!' ? "-->" : ">", at);
      if (end == std::string::npos) NotAnAnswer(L"ein Element ohne Ende");
      at = end;
      continue;
    }
    Element element;
    std::size_t end = at + 1;
    while (end < xml.size() && !IsBlank(xml[end]) && xml[end] != '/' && xml[end] != '>') ++end;
    element.name = xml.substr(at + 1, end - at - 1);
    if (element.name.empty()) NotAnAnswer(L"ein Element ohne Namen");
    at = ReadAttributes(xml, end, element);
    elements.push_back(std::move(element));
  }
  return elements;
}

std::wstring Upper(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  return text;
}
}  // namespace

std::vector<std::wstring> ParseAppPoolsXml(const std::string& bytes) {
  try {
    DecodeUtf8(bytes);
  } catch (const Exception&) {
    throw Exception(L"die Antwort von appcmd ist kein gültiges UTF-8");
  }
  const std::vector<Element> elements = StartTags(bytes);
  if (elements.empty() || elements.front().name != "appcmd") NotAnAnswer(L"kein <appcmd>");
  std::vector<std::wstring> pools;
  for (const Element& element : elements) {
    if (element.name != "APP") continue;
    const std::string* raw = nullptr;
    for (const auto& [name, value] : element.attributes) {
      if (name == "APPPOOL.NAME") raw = &value;
    }
    if (raw == nullptr) NotAnAnswer(L"eine Anwendung ohne APPPOOL.NAME");
    // A pool left out would keep serving the old DLL: an answer without a name is no answer.
    const std::wstring pool = AttributeText(*raw);
    if (pool.empty()) NotAnAnswer(L"eine Anwendung ohne Anwendungspool");
    bool known = false;
    for (const std::wstring& seen : pools) known = known || Upper(seen) == Upper(pool);
    if (!known) pools.push_back(pool);
  }
  return pools;
}
