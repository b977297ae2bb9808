#include "core/StatusReport.h"

#include <map>

#include "core/UnicodeDecoding.h"
#include "core/VersionCompare.h"

namespace {

constexpr std::int32_t kMaxFehlgeschlagen = 1000000;
constexpr std::size_t kMaxText = 4096;
constexpr int kMaxDepth = 4;

// --- writing ---

std::string JsonString(const std::wstring& text) {
  std::string out = "\"";
  for (char c : EncodeUtf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      static const char hex[] = "0123456789abcdef";
      out += "\\u00";
      out += hex[byte >> 4];
      out += hex[byte & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonTime(const char* name, const StatusZeit& zeit, const char* indent) {
  return std::string(indent) + "\"" + name + "\": " + JsonString(zeit.lokal) + ",\n" + indent +
         "\"" + name + "Unix\": " + std::to_string(zeit.unix) + ",\n";
}

// A label value of the metrics: backslash, double quote and line break escaped.
std::string LabelValue(const std::wstring& text) {
  std::string out;
  for (char c : EncodeUtf8(text)) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    if (c == '\r') continue;
    out += c;
  }
  return out;
}

std::string Metric(const std::string& name, const std::string& help, const std::string& value) {
  return "# HELP " + name + " " + help + "\n# TYPE " + name + " gauge\n" + name + " " + value +
         "\n";
}

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

bool AktualisierungFaellig(const StatusBericht& bericht) {
  if (!IsResourceVersion(bericht.onlineVersion)) return false;
  for (const StatusZiel& ziel : bericht.ziele) {
    if (IsResourceVersion(ziel.version) &&
        CompareDottedVersions(ziel.version, bericht.onlineVersion) < 0)
      return true;
  }
  return false;
}

int StatusExitCode(const StatusBericht& bericht) {
  if (bericht.ergebnis == kErgebnisFehlgeschlagen) return 1;
  return AktualisierungFaellig(bericht) ? 2 : 0;
}

std::string FormatStatusJson(const StatusBericht& b) {
  std::string out = "{\n";
  out += "  \"programmVersion\": " + JsonString(b.programmVersion) + ",\n";
  out += JsonTime("letztePruefung", b.letztePruefung, "  ");
  out += "  \"ergebnis\": " + JsonString(b.ergebnis) + ",\n";
  out += "  \"onlineVersion\": " + JsonString(b.onlineVersion) + ",\n";
  out += std::string("  \"aktualisierungFaellig\": ") +
         (AktualisierungFaellig(b) ? "true" : "false") + ",\n";
  out += "  \"ziele\": [";
  for (std::size_t i = 0; i < b.ziele.size(); ++i) {
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"pfad\": " + JsonString(b.ziele[i].pfad) +
           ", \"version\": " + JsonString(b.ziele[i].version) + "}";
  }
  out += b.ziele.empty() ? "],\n" : "\n  ],\n";
  out += JsonTime("letzteAktualisierung", b.letzteAktualisierung, "  ");
  out += "  \"fehlgeschlageneZyklenInFolge\": " + std::to_string(b.fehlgeschlageneZyklenInFolge) +
         "\n}\n";
  return out;
}

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

std::string FormatStatusMetrics(const StatusBericht& b) {
  std::string out;
  out +=
      "# HELP korval_update_info The program's version and the last known online version.\n"
      "# TYPE korval_update_info gauge\n"
      "korval_update_info{version=\"" +
      LabelValue(b.programmVersion) + "\",online_version=\"" + LabelValue(b.onlineVersion) +
      "\"} 1\n";
  out += Metric("korval_update_last_check_timestamp_seconds",
                "When the last update cycle ended (0: none yet).",
                std::to_string(b.letztePruefung.lokal.empty() ? 0 : b.letztePruefung.unix));
  out += Metric("korval_update_last_check_success",
                "1 when the last update cycle succeeded, 0 when it failed.",
                b.ergebnis == kErgebnisFehlgeschlagen ? "0" : "1");
  out += Metric("korval_update_due", "1 when a target DLL is older than the online version.",
                AktualisierungFaellig(b) ? "1" : "0");
  out += Metric(
      "korval_update_last_success_timestamp_seconds",
      "When the last update was installed (0: none known).",
      std::to_string(b.letzteAktualisierung.lokal.empty() ? 0 : b.letzteAktualisierung.unix));
  out += Metric("korval_update_failed_cycles", "Failed update cycles in a row.",
                std::to_string(b.fehlgeschlageneZyklenInFolge));
  out +=
      "# HELP korval_update_target_info Each target DLL with its product version.\n"
      "# TYPE korval_update_target_info gauge\n";
  for (const StatusZiel& ziel : b.ziele) {
    out += "korval_update_target_info{path=\"" + LabelValue(ziel.pfad) + "\",version=\"" +
           LabelValue(ziel.version) + "\"} 1\n";
  }
  return out;
}

std::vector<std::wstring> StatusLines(const StatusBericht& b) {
  std::vector<std::wstring> lines;
  lines.push_back(L"Programmversion: " + b.programmVersion);
  lines.push_back(
      L"Letzte Prüfung: " +
      (b.letztePruefung.lokal.empty() ? std::wstring(L"keine") : b.letztePruefung.lokal) + L" (" +
      b.ergebnis + L")");
  lines.push_back(L"Online-Version: " +
                  (b.onlineVersion.empty() ? std::wstring(L"unbekannt") : b.onlineVersion));
  for (const StatusZiel& ziel : b.ziele) {
    lines.push_back(L"DLL " + ziel.pfad + L": Version " +
                    (ziel.version.empty() ? std::wstring(L"nicht lesbar") : ziel.version));
  }
  lines.push_back(L"Letzte Aktualisierung: " + (b.letzteAktualisierung.lokal.empty()
                                                    ? std::wstring(L"keine bekannt")
                                                    : b.letzteAktualisierung.lokal));
  lines.push_back(L"Fehlgeschlagene Zyklen in Folge: " +
                  std::to_wstring(b.fehlgeschlageneZyklenInFolge));
  const int code = StatusExitCode(b);
  lines.push_back(code == 1   ? L"Ergebnis: Der letzte Zyklus ist fehlgeschlagen."
                  : code == 2 ? L"Ergebnis: Aktualisierung fällig."
                              : L"Ergebnis: In Ordnung.");
  return lines;
}
