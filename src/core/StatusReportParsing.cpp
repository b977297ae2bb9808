// Reading Status.json back: what FormatStatusJson wrote, and nothing else.
#include <map>

#include "core/StatusReport.h"
#include "core/UnicodeDecoding.h"
#include "core/VersionCompare.h"

namespace {

constexpr std::int32_t kMaxFehlgeschlagen = 1000000;
constexpr std::size_t kMaxText = 4096;
constexpr int kMaxDepth = 4;

// --- reading: a small JSON reader, enough for the record above and strict about the rest ---

struct Json {
  enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
  bool boolean = false;
  std::int64_t number = 0;
  std::wstring text;
  std::vector<Json> items;
  std::map<std::wstring, Json> fields;
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : s_(text) {}
  std::optional<Json> Document() {
    std::optional<Json> value = Value(0);
    Blanks();
    if (!value || pos_ != s_.size()) return std::nullopt;
    return value;
  }

 private:
  void Blanks() {
    while (pos_ < s_.size() &&
           (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\r' || s_[pos_] == '\t'))
      ++pos_;
  }
  bool Take(char c) {
    Blanks();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    const std::string w(word);
    if (s_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }
  std::optional<Json> Value(int depth) {
    if (depth > kMaxDepth) return std::nullopt;
    Blanks();
    if (pos_ >= s_.size()) return std::nullopt;
    Json v;
    const char c = s_[pos_];
    if (c == '{') return Object(depth);
    if (c == '[') return Array(depth);
    if (c == '"') {
      std::optional<std::wstring> text = Text();
      if (!text) return std::nullopt;
      v.kind = Json::String;
      v.text = *text;
      return v;
    }
    if (Word("true") || Word("false")) {
      v.kind = Json::Bool;
      v.boolean = c == 't';
      return v;
    }
    if (Word("null")) return v;
    return Number();
  }
  std::optional<Json> Number() {
    Json v;
    v.kind = Json::Number;
    const bool negative = pos_ < s_.size() && s_[pos_] == '-';
    if (negative) ++pos_;
    std::size_t digits = 0;
    while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') {
      if (++digits > 15) return std::nullopt;
      v.number = v.number * 10 + (s_[pos_++] - '0');
    }
    if (digits == 0) return std::nullopt;
    if (negative) v.number = -v.number;
    return v;
  }
  std::optional<std::wstring> Text() {
    ++pos_;  // the opening quote
    std::string bytes;
    while (pos_ < s_.size() && s_[pos_] != '"') {
      if (bytes.size() > kMaxText) return std::nullopt;
      char c = s_[pos_++];
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        bytes += c;
        continue;
      }
      if (pos_ >= s_.size()) return std::nullopt;
      c = s_[pos_++];
      if (c == '"' || c == '\\' || c == '/') {
        bytes += c;
      } else if (c == 'n' || c == 'r' || c == 't') {
        bytes += c == 'n' ? '\n' : c == 'r' ? '\r' : '\t';
      } else if (c == 'u') {
        std::optional<unsigned> code = Hex4();
        if (!code || *code == 0 || (*code >= 0xD800 && *code <= 0xDFFF)) return std::nullopt;
        bytes += EncodeUtf8(std::wstring(1, static_cast<wchar_t>(*code)));
      } else {
        return std::nullopt;
      }
    }
    if (pos_ >= s_.size()) return std::nullopt;
    ++pos_;
    return DecodeUtf8(bytes);
  }
  std::optional<unsigned> Hex4() {
    if (pos_ + 4 > s_.size()) return std::nullopt;
    unsigned code = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = s_[pos_++];
      const int digit = h >= '0' && h <= '9'   ? h - '0'
                        : h >= 'a' && h <= 'f' ? h - 'a' + 10
                        : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                               : -1;
      if (digit < 0) return std::nullopt;
      code = code * 16 + static_cast<unsigned>(digit);
    }
    return code;
  }
  std::optional<Json> Array(int depth) {
    ++pos_;
    Json v;
    v.kind = Json::Array;
    if (Take(']')) return v;
    do {
      std::optional<Json> item = Value(depth + 1);
      if (!item || v.items.size() > 100) return std::nullopt;
      v.items.push_back(std::move(*item));
    } while (Take(','));
    if (!Take(']')) return std::nullopt;
    return v;
  }
  std::optional<Json> Object(int depth) {
    ++pos_;
    Json v;
    v.kind = Json::Object;
    if (Take('}')) return v;
    do {
      Blanks();
      if (pos_ >= s_.size() || s_[pos_] != '"') return std::nullopt;
      std::optional<std::wstring> name = Text();
      if (!name || !Take(':')) return std::nullopt;
      std::optional<Json> value = Value(depth + 1);
      if (!value || v.fields.size() > 100) return std::nullopt;
      v.fields[*name] = std::move(*value);
    } while (Take(','));
    if (!Take('}')) return std::nullopt;
    return v;
  }

  const std::string& s_;
  std::size_t pos_ = 0;
};

const Json* Field(const Json& object, const wchar_t* name, Json::Kind kind) {
  auto found = object.fields.find(name);
  return found != object.fields.end() && found->second.kind == kind ? &found->second : nullptr;
}

bool ReadText(const Json& object, const wchar_t* name, std::wstring& out) {
  const Json* field = Field(object, name, Json::String);
  if (field == nullptr) return false;
  out = field->text;
  return true;
}

bool ReadTime(const Json& object, const wchar_t* name, StatusZeit& out) {
  const Json* unix = Field(object, (std::wstring(name) + L"Unix").c_str(), Json::Number);
  return ReadText(object, name, out.lokal) && unix != nullptr && (out.unix = unix->number, true);
}

bool KnownResult(const std::wstring& ergebnis) {
  return ergebnis == kErgebnisKeine || ergebnis == kErgebnisAktuell ||
         ergebnis == kErgebnisAktualisiert || ergebnis == kErgebnisFehlgeschlagen;
}

}  // namespace

std::optional<StatusBericht> ParseStatusJson(const std::string& text) {
  std::optional<Json> document = JsonReader(text).Document();
  if (!document || document->kind != Json::Object) return std::nullopt;
  StatusBericht b;
  const Json* fehlgeschlagen = Field(*document, L"fehlgeschlageneZyklenInFolge", Json::Number);
  const Json* ziele = Field(*document, L"ziele", Json::Array);
  if (!ReadText(*document, L"programmVersion", b.programmVersion) ||
      !ReadTime(*document, L"letztePruefung", b.letztePruefung) ||
      !ReadText(*document, L"ergebnis", b.ergebnis) || !KnownResult(b.ergebnis) ||
      !ReadText(*document, L"onlineVersion", b.onlineVersion) ||
      !(b.onlineVersion.empty() || IsResourceVersion(b.onlineVersion)) ||
      !ReadTime(*document, L"letzteAktualisierung", b.letzteAktualisierung) ||
      fehlgeschlagen == nullptr || fehlgeschlagen->number < 0 ||
      fehlgeschlagen->number > kMaxFehlgeschlagen || ziele == nullptr) {
    return std::nullopt;
  }
  b.fehlgeschlageneZyklenInFolge = static_cast<std::int32_t>(fehlgeschlagen->number);
  for (const Json& item : ziele->items) {
    StatusZiel ziel;
    if (item.kind != Json::Object || !ReadText(item, L"pfad", ziel.pfad) ||
        !ReadText(item, L"version", ziel.version))
      return std::nullopt;
    b.ziele.push_back(ziel);
  }
  return b;
}
